// Drives a WinProcess in a process of its own so that the test can read the
// finished log file. The child program's path is the second argument.
//   process_probe job <child>        job form; child starts a grandchild
//   process_probe linger <child>     job form; the grandchild outlives the wait
//   process_probe timeout <child>    command-line form, child outlives the wait
//   process_probe taken <child>      job form; the first job name is taken
//   process_probe all-taken <child>  job form; every name tried is taken, so
//                                    the command-line form runs the child
// Exit code: the child's exit code,
// or 200+ for a failed expectation. In the job modes the child's exit code
// is its child's id, so their failures are never a multiple of 4 (as Wine's
// process ids are).
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "process/job_names.h"
#include "process/win_process.h"
#include "tests/support/handle_count.h"

namespace {

// Jobs are named after this prefix and the moment they are made.
const std::string kJobNamePrefix = "Local\\ProbeJob_";
// The job wait's limit in "linger" mode (the test expects it in the log).
constexpr DWORD kLingerLimitMs = 2000;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

int Finish(int code) {
  ShutdownLogger();
  return code;
}

// The child starts a grandchild that lives `grandchildMs` and exits with its
// id. Logs how long the wait took; 205 when the object left a handle behind.
int RunJob(const std::string& child, const std::string& grandchildMs, DWORD timeLimitMs) {
  // Neither the log file, opened by the first line, nor the directory of
  // named objects, which the first named object opens and keeps for the
  // process, is a handle of the job's.
  PrimitiveLogger::Log("probe", "job, grandchild living %s ms", grandchildMs.c_str());
  UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, (kJobNamePrefix + "Event").c_str())).reset();
  const DWORD handlesBefore = test_support::OwnHandleCount();
  if (handlesBefore == 0) return Finish(206);
  DWORD exitCode = 0;
  {
    WinProcess process(child, Quoted(child) + " spawn " + grandchildMs);
    if (!process.Launch(WinProcess::LaunchForm::Job, kJobNamePrefix)) return Finish(201);
    PrimitiveLogger::Log("probe", "child %lu", process.ProcessId());
    const ULONGLONG start = GetTickCount64();
    if (!process.Wait(timeLimitMs)) return Finish(202);
    PrimitiveLogger::Log("probe", "waited %lu", static_cast<DWORD>(GetTickCount64() - start));
    if (!process.GetExitCode(exitCode)) return Finish(203);
  }
  if (test_support::OwnHandleCount() != handlesBefore) return Finish(205);
  return Finish(static_cast<int>(exitCode));
}

int RunTimeout(const std::string& child) {
  WinProcess process(child, "exit 0 60000");
  if (!process.Launch(WinProcess::LaunchForm::CommandLine)) return Finish(201);
  PrimitiveLogger::Log("probe", "child %lu", process.ProcessId());
  const bool waited = process.Wait(300);
  DWORD exitCode = 0;
  const bool read = process.GetExitCode(exitCode);
  UniqueHandle running(OpenProcess(PROCESS_TERMINATE, FALSE, process.ProcessId()));
  if (running) TerminateProcess(running.get(), 1);
  if (!waited) return Finish(202);
  if (!read) return Finish(203);
  return Finish(static_cast<int>(exitCode));
}

// The probe's job names: "Local\ProbeJob_<probe's id>_<n>" for the n-th
// name tried, so that the probe can take them first.
class NumberedJobNames final : public JobNames {
 public:
  static std::string Name(int n) {
    return kJobNamePrefix + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(n);
  }
  std::string First() override { return Name(tried_ = 0); }
  bool Next(const std::string&, std::string& next) override {
    next = Name(++tried_);
    return true;
  }

 private:
  int tried_ = 0;
};

// A new job (or, `asMutex`, a mutex) of the n-th name, or none when the name
// was not free.
UniqueHandle TakeName(int n, bool asMutex = false) {
  const std::string name = NumberedJobNames::Name(n);
  UniqueHandle taken(asMutex ? CreateMutexA(nullptr, FALSE, name.c_str())
                             : CreateJobObjectA(nullptr, name.c_str()));
  if (GetLastError() == ERROR_ALREADY_EXISTS) taken.reset();
  return taken;
}

// Whether `pid` runs in `job`: 1 yes, 0 no, -1 unknown.
int InJob(DWORD pid, HANDLE job) {
  // IsProcessInJob needs the full query right.
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  BOOL in = FALSE;
  if (!process || !IsProcessInJob(process.get(), job, &in)) return -1;
  return in ? 1 : 0;
}

// The first name is another's job: the child runs in a job of the second
// name, not in the other's, and the wait covers its grandchild. 207: the
// child is in the taken job, 208: not in the job of the second name.
int RunTakenName(const std::string& child) {
  PrimitiveLogger::Log("probe", "taken");
  const UniqueHandle taken = TakeName(0);
  if (!taken) return Finish(209);
  const DWORD handlesBefore = test_support::OwnHandleCount();
  if (handlesBefore == 0) return Finish(206);
  DWORD exitCode = 0;
  {
    NumberedJobNames names;
    WinProcess process(child, Quoted(child) + " spawn 500");
    if (!process.Launch(WinProcess::LaunchForm::Job, names)) return Finish(201);
    PrimitiveLogger::Log("probe", "child %lu", process.ProcessId());
    if (InJob(process.ProcessId(), taken.get()) != 0) return Finish(207);
    UniqueHandle own(OpenJobObjectA(JOB_OBJECT_QUERY, FALSE, NumberedJobNames::Name(1).c_str()));
    if (!own || InJob(process.ProcessId(), own.get()) != 1) return Finish(208);
    if (!process.Wait(30000)) return Finish(202);
    if (!process.GetExitCode(exitCode)) return Finish(203);
  }
  if (test_support::OwnHandleCount() != handlesBefore) return Finish(205);
  return Finish(static_cast<int>(exitCode));
}

// Every name tried is taken, one of them by a mutex: no job, no child
// started for it; the command-line form then runs the child on the same
// object. 214: the job form reported a launch, 215: it started a child.
int RunAllNamesTaken(const std::string& child) {
  PrimitiveLogger::Log("probe", "all taken");
  std::vector<UniqueHandle> taken;
  for (int n = 0; n < 4; ++n) {
    taken.push_back(TakeName(n, n == 1));
    if (!taken.back()) return Finish(209);
  }
  const DWORD handlesBefore = test_support::OwnHandleCount();
  if (handlesBefore == 0) return Finish(206);
  DWORD exitCode = 0;
  {
    NumberedJobNames names;
    WinProcess process(child, "exit 9 0");
    if (process.Launch(WinProcess::LaunchForm::Job, names)) return Finish(214);
    if (process.ProcessId() != 0) return Finish(215);
    if (!process.Launch(WinProcess::LaunchForm::CommandLine)) return Finish(201);
    if (!process.Wait(10000)) return Finish(202);
    if (!process.GetExitCode(exitCode)) return Finish(203);
  }
  if (test_support::OwnHandleCount() != handlesBefore) return Finish(205);
  return Finish(static_cast<int>(exitCode));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) return 250;
  const std::string mode = argv[1];
  const std::string child = argv[2];
  try {
    if (mode == "job") return RunJob(child, "1500", 30000);
    if (mode == "linger") return RunJob(child, "60000", kLingerLimitMs);
    if (mode == "timeout") return RunTimeout(child);
    if (mode == "taken") return RunTakenName(child);
    if (mode == "all-taken") return RunAllNamesTaken(child);
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("probe", "exception: %s", error.what());
    return Finish(240);
  }
  return 250;
}
