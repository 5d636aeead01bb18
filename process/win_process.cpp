#include "process/win_process.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <utility>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "process/job_names.h"
#include "process/process_constants.h"
#include "system/file_sys_utils.h"

using namespace process_constants;

namespace {

constexpr char kInvalidLaunchMessage[] = "Invalid attempt to LaunchAndWait; Returning false";
constexpr char kInvalidLaunchException[] = "Invalid Process Launch Attempt detected";
constexpr char kJobTag[] = "WinProcess::LaunchAsJob";
constexpr char kJobWaitTag[] = "WinProcess::WaitForJobToComplete";

// An executable that exists, or no executable and a whole command line.
bool IsLaunchable(const std::string& executablePath, const std::string& commandLine) {
  if (!executablePath.empty()) return FileSysUtils::Exists(executablePath);
  return !commandLine.empty();
}

// Another object holds the name: a job made before (CreateJobObject then
// returns a handle to it and ERROR_ALREADY_EXISTS), an object of another
// type (ERROR_INVALID_HANDLE) or a job this process may not open
// (ERROR_ACCESS_DENIED).
bool IsNameTaken(DWORD error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_INVALID_HANDLE ||
         error == ERROR_ACCESS_DENIED;
}

// What is left until `deadline` (GetTickCount64), never more than the limit
// it was made from, so never INFINITE.
DWORD RemainingMs(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// JOBOBJECT_BASIC_PROCESS_ID_LIST with room for kJobProcessListCapacity ids.
struct JobProcessIdList {
  DWORD assigned;
  DWORD listed;
  ULONG_PTR ids[kJobProcessListCapacity];
};
static_assert(offsetof(JobProcessIdList, ids) ==
                  offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList),
              "the list must have the layout of JOBOBJECT_BASIC_PROCESS_ID_LIST");

// The processes in `job`, or nothing when they cannot be listed. A job with
// more processes than fit fails the call with ERROR_MORE_DATA and still
// fills in the ids that fit.
std::optional<JobProcessIdList> QueryJobProcessIds(HANDLE job) {
  JobProcessIdList list = {};
  if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &list, sizeof(list), nullptr)) {
    return list;
  }
  const DWORD error = GetLastError();
  PrimitiveLogger::Log(kJobWaitTag, "Unable to list the processes of the job; Error:  %lu", error);
  if (error != ERROR_MORE_DATA) return std::nullopt;
  if (list.listed > kJobProcessListCapacity) list.listed = kJobProcessListCapacity;
  return list;
}

// The file-name part of the image of process `pid`, or "unknown".
// PROCESS_QUERY_LIMITED_INFORMATION is all QueryFullProcessImageNameA needs,
// and it is granted for processes where the fuller query right is not.
std::string ImageNameOf(DWORD pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    PrimitiveLogger::Log(kJobWaitTag, "Unable to open process %lu; Error:  %lu", pid,
                         GetLastError());
    return "unknown";
  }
  char image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameA(process.get(), 0, image, &size)) {
    PrimitiveLogger::Log(kJobWaitTag, "Unable to read the image name of process %lu; Error:  %lu",
                         pid, GetLastError());
    return "unknown";
  }
  return FileNamePart(std::string(image, size));
}

// "1234 (setup.exe), 1240 (browser.exe)"
std::string DescribeProcesses(const JobProcessIdList& list) {
  std::string text;
  for (DWORD i = 0; i < list.listed; ++i) {
    const DWORD pid = static_cast<DWORD>(list.ids[i]);
    if (!text.empty()) text += ", ";
    text += std::to_string(pid) + " (" + ImageNameOf(pid) + ")";
  }
  return text;
}

// A variable's name in an environment entry "NAME=value". The drive
// entries ("=C:=C:\\dir") begin with their '='.
std::wstring VariableName(const std::wstring& entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

// How two variable names sort in an environment block: by name, without
// regard to case or locale, as CreateProcess asks (Wine does not hold a
// caller to the order; Windows' own lookups may rely on it).
int CompareNames(const std::wstring& first, const std::wstring& second) {
  return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                              static_cast<int>(second.size()), TRUE);
}

}  // namespace

std::wstring EnvironmentBlockWith(
    const std::vector<std::pair<std::wstring, std::wstring>>& variables) {
  const UniqueEnvironmentStrings current(GetEnvironmentStringsW());
  if (!current) {
    // The children then inherit this process's environment as it is.
    PrimitiveLogger::Log("EnvironmentBlockWith", "GetEnvironmentStrings() failed, error: %lu",
                         GetLastError());
    return {};
  }
  // Each entry goes in after those whose names sort before or with its own:
  // the block comes out sorted even where this process's environment is not
  // (Wine's keeps the order of the Unix one).
  std::vector<std::wstring> entries;
  const auto add = [&entries](std::wstring entry) {
    const std::wstring name = VariableName(entry);
    auto at = entries.end();
    while (at != entries.begin() &&
           CompareNames(VariableName(*(at - 1)), name) == CSTR_GREATER_THAN) {
      --at;
    }
    entries.insert(at, std::move(entry));
  };
  for (const wchar_t* entry = current.get(); *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring name = VariableName(entry);
    bool replaced = false;
    for (const auto& variable : variables) {
      replaced = replaced || CompareNames(name, variable.first) == CSTR_EQUAL;
    }
    if (!replaced) add(entry);
  }
  for (const auto& [name, value] : variables) add(name + L"=" + value);
  std::wstring block;
  for (const std::wstring& entry : entries) block.append(entry).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

WinProcess::WinProcess(std::string executablePath, std::string commandLine,
                       std::wstring environment)
    : executablePath_(std::move(executablePath)),
      commandLine_(std::move(commandLine)),
      environment_(std::move(environment)) {
  std::memset(&startupInfo_, 0, sizeof(startupInfo_));
  if (!IsLaunchable(executablePath_, commandLine_)) {
    PrimitiveLogger::Log("WinProcess::WinProcess", kInvalidLaunchMessage);
    throw std::runtime_error(kInvalidLaunchException);
  }
  // No show-window or other startup flag: the child gets the system
  // defaults. The size is 68 in the shipped 32-bit program.
  std::memset(&startupInfo_, 0, sizeof(startupInfo_));
  startupInfo_.cb = sizeof(startupInfo_);
}

WinProcess::~WinProcess() { Reset(); }

void WinProcess::Reset() {
  thread_.reset();
  process_.reset();
  job_.reset();
  completionPort_.reset();
  launchedAsJob_ = false;
  launched_ = false;
  exitCode_ = 0;
  processId_ = 0;
}

std::string WinProcess::BuildCommandLine(const std::string& executablePath,
                                         const std::string& commandLine) {
  // An unquoted path with a blank is split by CreateProcess, which then tries
  // each prefix of it ("C:\Users\Jane.exe" for "C:\Users\Jane Doe\...") as a
  // program first. A path without blanks is passed as it is.
  const bool needsQuotes = executablePath.find(' ') != std::string::npos;
  const std::string program = needsQuotes ? "\"" + executablePath + "\"" : executablePath;
  return program + " " + commandLine;
}

void WinProcess::TakeProcessInformation(const PROCESS_INFORMATION& info) {
  thread_.reset(info.hThread);
  process_.reset(info.hProcess);
  processId_ = info.dwProcessId;
}

bool WinProcess::Launch(LaunchForm form, const std::string& jobNamePrefix) {
  TimedJobNames jobNames(jobNamePrefix);
  return Launch(form, jobNames);
}

bool WinProcess::Launch(LaunchForm form, JobNames& jobNames) {
  Reset();
  const bool cli = form == LaunchForm::CommandLine;
  PrimitiveLogger::Log("WinProcess::Launch", "Launching  %s  %s  (CLI:  %s; JOB:  %s)",
                       executablePath_.c_str(), commandLine_.c_str(), BoolText(cli),
                       BoolText(!cli));
  if (!IsLaunchable(executablePath_, commandLine_)) {
    PrimitiveLogger::Log("WinProcess::Launch", kInvalidLaunchMessage);
    return false;
  }

  launched_ = false;
  if (cli) {
    std::string line = BuildCommandLine(executablePath_, commandLine_);
    PROCESS_INFORMATION info = {};
    launched_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, EnvironmentFlag(),
                               Environment(), nullptr, &startupInfo_, &info) != FALSE;
    if (launched_) TakeProcessInformation(info);
  } else {
    launched_ = LaunchAsJob(jobNames);
  }
  PrimitiveLogger::Log("WinProcess::Launch", "Process launched:  %s", BoolText(launched_));
  return launched_;
}

bool WinProcess::LaunchAsJob(JobNames& jobNames) {
  const std::string jobName = jobNames.First();
  PrimitiveLogger::Log(kJobTag, ">>>  Launching as Job:  %s", jobName.c_str());

  if (CreateOwnJob(jobNames, jobName)) StartInJob();
  PrimitiveLogger::Log(kJobTag, "<<<  ; Returning:  %s", BoolText(launchedAsJob_));
  return launchedAsJob_;
}

// The job the child runs in is this process's own only when this call made
// it. A job of that name made before belongs to whoever made it: it would
// decide what the wait covers and when it ends, and could see and end what
// runs in it. So a name that is taken is never used: what it names is
// closed at once and the next, unpredictable name is tried, a few times;
// then the child starts as when no job can be made.
bool WinProcess::CreateOwnJob(JobNames& jobNames, std::string name) {
  for (int attempt = 1;; ++attempt) {
    // CreateJobObject promises ERROR_ALREADY_EXISTS with the handle of a job
    // that existed, not that it clears the last error for a new one (an
    // ERROR_ALREADY_EXISTS left by a CreateDirectory would read as a taken
    // name): it is cleared first, the one way to read the call's answer.
    SetLastError(ERROR_SUCCESS);
    job_.reset(CreateJobObjectA(nullptr, name.c_str()));
    const DWORD error = GetLastError();
    if (job_ && error != ERROR_ALREADY_EXISTS) return true;
    job_.reset();
    const auto fail = [error] {
      PrimitiveLogger::Log(kJobTag, "Unable to create JobObject:  %lu", error);
      return false;
    };
    if (!IsNameTaken(error)) return fail();
    if (attempt == kJobNameAttempts) {
      PrimitiveLogger::Log(kJobTag,
                           "Job name %s is taken as well (Error:  %lu); giving up after %d names",
                           name.c_str(), error, attempt);
      return fail();
    }
    std::string next;
    if (!jobNames.Next(name, next)) return fail();
    PrimitiveLogger::Log(kJobTag, "Job name %s is taken (Error:  %lu); not using it, trying %s",
                         name.c_str(), error, next.c_str());
    name = std::move(next);
  }
}

// Each step runs only when the one before it succeeded; the handles made so
// far stay with the object until the next reset.
void WinProcess::StartInJob() {
  completionPort_.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (!completionPort_) {
    PrimitiveLogger::Log(kJobTag, "Unable to create IOCP:  %lu", GetLastError());
    return;
  }

  // While the child is held suspended, the job ends it should this process
  // end (a logoff, a killed helper): a child left suspended would never run
  // nor end, and would hold its program's file for good. The limit goes
  // once the child runs: what it starts may then outlive this process.
  if (!SetKillOnClose(true)) return;

  // What the child starts belongs to the job too.
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
  association.CompletionKey = job_.get();
  association.CompletionPort = completionPort_.get();
  if (!SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation,
                               &association, sizeof(association))) {
    PrimitiveLogger::Log(kJobTag, "Unable to SetInformationJobObject IOCP:  %lu", GetLastError());
    return;
  }

  // An empty path is passed as an empty application name, not an absent one.
  std::string line = commandLine_;
  PROCESS_INFORMATION info = {};
  launched_ = CreateProcessA(executablePath_.c_str(), line.data(), nullptr, nullptr, FALSE,
                             CREATE_SUSPENDED | EnvironmentFlag(), Environment(), nullptr,
                             &startupInfo_, &info) != FALSE;
  if (!launched_) {
    PrimitiveLogger::Log(kJobTag, "Create suspended process ; Error:  %lu", GetLastError());
    return;
  }
  TakeProcessInformation(info);

  if (!AssignProcessToJobObject(job_.get(), process_.get())) {
    PrimitiveLogger::Log(kJobTag, "Unable to assign process to job; Error:  %lu", GetLastError());
    TerminateAbandonedChild();
    return;
  }

  if (ResumeThread(thread_.get()) == kResumeThreadFailed) {
    PrimitiveLogger::Log(kJobTag, "Unable to resume thread; Error:  %lu", GetLastError());
    TerminateAbandonedChild();
    return;
  }
  // Should the limit stay, the job's processes end with this process, as a
  // job with that limit always did; the wait below is unchanged.
  (void)SetKillOnClose(false);
  PrimitiveLogger::Log(kJobTag, "Process launch as Job successful");
  launchedAsJob_ = true;
}

bool WinProcess::SetKillOnClose(bool kill) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  if (SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                              sizeof(limits))) {
    return true;
  }
  PrimitiveLogger::Log(kJobTag, "Unable to SetInformationJobObject limits:  %lu", GetLastError());
  return false;
}

// A child that never ran a single instruction would otherwise stay suspended
// for ever beside the copy the caller's fallback launch starts.
void WinProcess::TerminateAbandonedChild() {
  if (!TerminateProcess(process_.get(), kAbandonedChildExitCode)) {
    PrimitiveLogger::Log(kJobTag, "Unable to terminate suspended process %lu; Error:  %lu",
                         processId_, GetLastError());
    return;
  }
  WaitForSingleObject(process_.get(), kAbandonedChildWaitMs);
  PrimitiveLogger::Log(kJobTag, "Terminated suspended process %lu", processId_);
}

bool WinProcess::Wait(DWORD timeLimitMs) {
  if (launched_ && process_) {
    PrimitiveLogger::Log("WinProcess::Wait", "%s  [%lu] was launched",
                         launchedAsJob_ ? "Job" : "Process", processId_);
    if (!launchedAsJob_) return WaitForProcessExit(timeLimitMs);
    PrimitiveLogger::Log("WinProcess::Wait",
                         "Process was launched as a job; waiting up to %lu ms for every process "
                         "of the job",
                         timeLimitMs);
    if (WaitForJobToComplete(timeLimitMs) == JobWaitEnd::TimeLimit) LetGoOfJob(timeLimitMs);
    // As after a command-line time-out, GetExitCode tells whether the
    // launched process still runs.
    return true;
  }
  PrimitiveLogger::Log("WinProcess::Wait", "CreateProcess(%s  %s) failed %lu",
                       executablePath_.c_str(), commandLine_.c_str(), GetLastError());
  return false;
}

bool WinProcess::WaitForProcessExit(DWORD timeLimitMs) {
  constexpr char kTag[] = "WinProcess::WaitForProcessExit";
  const DWORD result = WaitForSingleObject(process_.get(), timeLimitMs);
  // Taken before logging, which may change the thread's last error.
  const DWORD error = GetLastError();
  PrimitiveLogger::Log(kTag, "Wait result for %s is %lu", executablePath_.c_str(), result);
  if (result == WAIT_TIMEOUT) {
    PrimitiveLogger::Log(kTag,
                         "Wait for process %s timed-out; Process maybe running still with "
                         "error:  %lu",
                         executablePath_.c_str(), error);
  } else if (result == WAIT_FAILED) {
    PrimitiveLogger::Log(kTag, "Wait for process %s failed with error:  %lu",
                         executablePath_.c_str(), error);
  }
  // The caller learns of a child still running from GetExitCode.
  return true;
}

WinProcess::JobWaitEnd WinProcess::WaitForJobToComplete(DWORD timeLimitMs) {
  const bool limited = timeLimitMs != kNoTimeLimit;
  const ULONGLONG deadline = GetTickCount64() + timeLimitMs;
  for (;;) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    const DWORD waitMs = limited ? RemainingMs(deadline) : kNoTimeLimit;
    if (!GetQueuedCompletionStatus(completionPort_.get(), &message, &key, &overlapped, waitMs)) {
      const DWORD error = GetLastError();
      // A wait that runs out dequeues nothing: FALSE, a null overlapped
      // pointer and WAIT_TIMEOUT. A wait of 0 still reads what is queued.
      if (overlapped == nullptr && error == WAIT_TIMEOUT) return JobWaitEnd::TimeLimit;
      // The wait ends without the job's end: say so, or the log would read
      // as if every process of the job had finished.
      PrimitiveLogger::Log(kJobWaitTag, "GetQueuedCompletionStatus failed; Error:  %lu", error);
      return JobWaitEnd::PortFailed;
    }
    // The job's notifications carry a process id in place of the overlapped
    // pointer.
    const DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(overlapped));
    switch (message) {
      case JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO:
        PrimitiveLogger::Log(kJobWaitTag, "Process Zero has been signalled");
        return JobWaitEnd::Ended;
      case JOB_OBJECT_MSG_NEW_PROCESS:
        PrimitiveLogger::Log(kJobWaitTag, "New PID:  %lu", pid);
        break;
      case JOB_OBJECT_MSG_EXIT_PROCESS:
        PrimitiveLogger::Log(kJobWaitTag, "Exit PID:  %lu", pid);
        break;
      default:
        break;
    }
  }
}

// Only a job with JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE ends its processes when
// its last handle closes; StartInJob clears it once the child runs, so they
// keep running.
void WinProcess::LetGoOfJob(DWORD timeLimitMs) {
  LogProcessesLeftInJob(timeLimitMs);
  job_.reset();
  completionPort_.reset();
}

void WinProcess::LogProcessesLeftInJob(DWORD timeLimitMs) const {
  const std::optional<JobProcessIdList> list = QueryJobProcessIds(job_.get());
  if (!list) {
    PrimitiveLogger::Log(kJobWaitTag,
                         "Job's processes cannot be listed after %lu ms; letting go of it "
                         "without ending them",
                         timeLimitMs);
    return;
  }
  PrimitiveLogger::Log(kJobWaitTag,
                       "Job still has %lu process(es) after %lu ms; letting go of it without "
                       "ending them:  %s",
                       list->assigned, timeLimitMs, DescribeProcesses(*list).c_str());
}

bool WinProcess::GetExitCode(DWORD& exitCode) {
  constexpr char kTag[] = "WinProcess::GetExitCode";
  if (!GetExitCodeProcess(process_.get(), &exitCode_)) {
    PrimitiveLogger::Log(kTag, "Unable to get process exit code:  %s ; Error:  %lu",
                         executablePath_.c_str(), GetLastError());
    return false;
  }
  exitCode = exitCode_;
  if (exitCode_ == kStillActiveExitCode) {
    PrimitiveLogger::Log(
        kTag, "Process %lu is still running (or exited with the ambiguous error code)", processId_);
  } else {
    PrimitiveLogger::Log(kTag, "Process exited with code: %lu", exitCode_);
  }
  return true;
}
