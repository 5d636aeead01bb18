// Drives a WinProcess in a process of its own so that the test can read the
// finished log file. The child program's path is the second argument.
//   process_probe job <child>        job form; child starts a grandchild
//   process_probe linger <child>     job form; the grandchild outlives the wait
//   process_probe timeout <child>    command-line form, child outlives the wait
//   process_probe fallback <child>   the probe runs inside a job of its own,
//                                    so the job form cannot place the child
//                                    in a new one and falls back
// Exit code: the child's exit code,
// or 200+ for a failed expectation. In the job modes the child's exit code
// is its child's id, so their failures are never a multiple of 4 (as Wine's
// process ids are).
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "logging/primitive_logger.h"
#include "logging/unique_handle.h"
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

long long MillisecondsSince1970() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<long long>((ticks - 116444736000000000ull) / 10000ull);
}

// Job names are taken by jobs that will not accept a process of another
// job hierarchy: each already holds (or held) a squatter process that is in
// no job of ours. With the probe itself inside a job, the suspended child
// then cannot be placed in "its" job.
int RunFallback(const std::string& child) {
  std::string squatterLine = Quoted(child) + " exit 0 60000";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION squatter = {};
  if (!CreateProcessA(nullptr, squatterLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &squatter)) {
    return Finish(210);
  }
  UniqueHandle squatterProcess(squatter.hProcess);
  UniqueHandle squatterThread(squatter.hThread);
  auto finish = [&squatterProcess](int code) {
    TerminateProcess(squatterProcess.get(), 1);
    return Finish(code);
  };

  constexpr long long kWindowMs = 4000;
  const long long first = MillisecondsSince1970();
  std::vector<UniqueHandle> squattedJobs;
  for (long long ms = first; ms < first + kWindowMs; ++ms) {
    UniqueHandle job(CreateJobObjectA(nullptr, (kJobNamePrefix + std::to_string(ms)).c_str()));
    if (!job || !AssignProcessToJobObject(job.get(), squatterProcess.get())) return finish(211);
    squattedJobs.push_back(std::move(job));
  }
  if (MillisecondsSince1970() > first + kWindowMs - 1000) return finish(212);

  UniqueHandle outerJob(CreateJobObjectA(nullptr, nullptr));
  if (!outerJob || !AssignProcessToJobObject(outerJob.get(), GetCurrentProcess())) {
    return finish(213);
  }

  WinProcess process(child, "exit 9 0");
  if (process.Launch(WinProcess::LaunchForm::Job, kJobNamePrefix)) return finish(214);
  const DWORD abandoned = process.ProcessId();
  PrimitiveLogger::Log("probe", "abandoned %lu", abandoned);
  UniqueHandle left(OpenProcess(SYNCHRONIZE, FALSE, abandoned));
  if (left && WaitForSingleObject(left.get(), 0) == WAIT_TIMEOUT) return finish(215);

  // The same object, started again in the command-line form.
  if (!process.Launch(WinProcess::LaunchForm::CommandLine)) return finish(201);
  if (!process.Wait(10000)) return finish(202);
  DWORD exitCode = 0;
  if (!process.GetExitCode(exitCode)) return finish(203);
  return finish(static_cast<int>(exitCode));
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
    if (mode == "fallback") return RunFallback(child);
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("probe", "exception: %s", error.what());
    return Finish(240);
  }
  return 250;
}
