// One child program: started directly or inside a job object, waited for,
// and its exit code read. The object owns the child's process and thread
// handles and, in the job form, the job and its completion port.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "logging/owners.h"
#include "process/job_names.h"

class WinProcess {
 public:
  // Command line: the executable path and the arguments joined into one
  // command line. Job: the child starts suspended, joins a new job object and
  // is waited for until every process of the job has ended, within the time
  // limit.
  enum class LaunchForm { CommandLine, Job };

  // Throws std::runtime_error when the pair cannot be launched: an executable
  // path that names nothing, or both texts empty. A file-system error other
  // than "not found" while testing the path propagates as
  // FileSysUtils::FileSystemError. `environment` is the child's environment
  // block (EnvironmentBlockWith); empty, it inherits this process's.
  WinProcess(std::string executablePath, std::string commandLine,
             std::wstring environment = std::wstring());
  ~WinProcess();

  WinProcess(const WinProcess&) = delete;
  WinProcess& operator=(const WinProcess&) = delete;

  // Resets the object and starts the child. Another Launch on the same
  // object starts again from scratch (the fallback from the job form). In the
  // job form the job object is named `jobNamePrefix` followed by the
  // milliseconds since 1970 (TimedJobNames). A job name that is already
  // taken is never used: the job form tries a few further names, then fails.
  bool Launch(LaunchForm form, const std::string& jobNamePrefix = std::string());
  // The same, with the job's names from `jobNames`.
  bool Launch(LaunchForm form, JobNames& jobNames);

  // False only when no child was launched; INFINITE waits without a limit.
  // Either form returns true at the limit, and GetExitCode then reads the
  // launched process's own exit code, 259 while it still runs. In the job
  // form the wait lasts until the job has no process left or `timeLimitMs`
  // has passed in all; at the limit the processes still in the job are
  // logged and left running, and the object lets go of the job (a later
  // Wait finds no job to wait on).
  bool Wait(DWORD timeLimitMs);

  // True when the exit code was read; 259 means the child is still running.
  bool GetExitCode(DWORD& exitCode);

  // Wait, then GetExitCode: true when both worked.
  bool WaitForExitCode(DWORD timeLimitMs, DWORD& exitCode) {
    return Wait(timeLimitMs) && GetExitCode(exitCode);
  }

  DWORD ProcessId() const { return processId_; }

  // The command line the command-line form passes to CreateProcess.
  static std::string BuildCommandLine(const std::string& executablePath,
                                      const std::string& commandLine);

 private:
  // How a job wait ended: the job's last process ended, the completion port
  // failed, or the time limit passed first.
  enum class JobWaitEnd { Ended, PortFailed, TimeLimit };

  bool LaunchAsJob(JobNames& jobNames);
  bool CreateOwnJob(JobNames& jobNames, std::string name);
  void StartInJob();
  bool WaitForProcessExit(DWORD timeLimitMs);
  JobWaitEnd WaitForJobToComplete(DWORD timeLimitMs);
  void LetGoOfJob(DWORD timeLimitMs);
  void LogProcessesLeftInJob(DWORD timeLimitMs) const;
  void TakeProcessInformation(const PROCESS_INFORMATION& info);
  // Sets or clears JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE on the job; logged.
  bool SetKillOnClose(bool kill);
  void TerminateAbandonedChild();
  void Reset();
  // What CreateProcess is given for the environment: the block (wide) and
  // its flag, or nothing for this process's own.
  void* Environment() { return environment_.empty() ? nullptr : environment_.data(); }
  DWORD EnvironmentFlag() const { return environment_.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT; }

  std::string executablePath_;
  std::string commandLine_;
  std::wstring environment_;
  STARTUPINFOA startupInfo_;
  UniqueHandle thread_;
  UniqueHandle process_;
  DWORD processId_ = 0;
  DWORD exitCode_ = STILL_ACTIVE;
  bool launchedAsJob_ = false;
  bool launched_ = false;
  UniqueHandle job_;
  UniqueHandle completionPort_;
};

// This process's environment as a block for a child, with each of
// `variables` (name, value) set, sorted as CreateProcess asks: how a child
// gets a TEMP of its own while this process's environment stays as it is.
// Empty when the environment cannot be read (the child then inherits it).
std::wstring EnvironmentBlockWith(
    const std::vector<std::pair<std::wstring, std::wstring>>& variables);

// Starts `child` in the command-line form, waits up to `timeLimitMs` and
// reads its exit code: true when all three worked.
inline bool RunToExitCode(WinProcess& child, DWORD timeLimitMs, DWORD& exitCode) {
  return child.Launch(WinProcess::LaunchForm::CommandLine) &&
         child.WaitForExitCode(timeLimitMs, exitCode);
}
