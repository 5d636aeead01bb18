#include "remediation/msiexec_run.h"

#include <optional>
#include <utility>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "process/win_process.h"
#include "remediation/component_constants.h"
#include "remediation/msi_command_line.h"
#include "system/known_folders.h"

using namespace component_constants;

namespace {

constexpr char kWaitTag[] = "WaitForWindowsInstaller";
constexpr char kRunTag[] = "RunMsiExec";

DWORD MillisecondsSince(ULONGLONG start) { return static_cast<DWORD>(GetTickCount64() - start); }

}  // namespace

void WaitForWindowsInstaller(DWORD limitMs) {
  // Opened with the right to release it: a wait on a free mutex takes it,
  // and it must be given back at once or this run would hold up the
  // installer it is about to start.
  UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kInstallerMutexName));
  if (!mutex) {
    const DWORD error = GetLastError();
    // No mutex: no installation is running.
    if (error != ERROR_FILE_NOT_FOUND) {
      PrimitiveLogger::Log(kWaitTag, "Unable to open %s to wait for it:  %lu", kInstallerMutexName,
                           error);
    }
    return;
  }

  DWORD result = WaitForSingleObject(mutex.get(), 0);
  if (result == WAIT_TIMEOUT) {
    // Rounded: a limit a few milliseconds into its budget still reads as
    // the ten minutes it is.
    PrimitiveLogger::Log(kWaitTag,
                         "Windows Installer is busy with another installation; waiting up to %lu "
                         "seconds",
                         (limitMs + 500) / 1000);
    const ULONGLONG start = GetTickCount64();
    result = WaitForSingleObject(mutex.get(), limitMs);
    PrimitiveLogger::Log(kWaitTag,
                         result == WAIT_TIMEOUT
                             ? "Windows Installer still busy after %lu ms; starting msiexec anyway"
                             : "Windows Installer became free after %lu ms",
                         MillisecondsSince(start));
  }
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
    if (!ReleaseMutex(mutex.get())) {
      PrimitiveLogger::Log(kWaitTag, "ReleaseMutex failed:  %lu", GetLastError());
    }
  } else if (result == WAIT_FAILED) {
    PrimitiveLogger::Log(kWaitTag, "Wait for %s failed:  %lu", kInstallerMutexName, GetLastError());
  }
}

bool RunMsiExec(const std::string& arguments, DWORD waitMs, const std::wstring& environment,
                DWORD& exitCode, const std::function<void()>& beforeFirstStart) {
  std::string commandLine = arguments;
  // The first run's process is built before anything is announced: a
  // missing msiexec throws before the user is told it is installing.
  std::optional<WinProcess> msiExec(std::in_place, GetMsiExecPath(), commandLine, environment);
  if (beforeFirstStart) beforeFirstStart();
  const ULONGLONG start = GetTickCount64();
  bool logDropped = false;
  for (;;) {
    const DWORD busyTimeUsed = MillisecondsSince(start);
    WaitForWindowsInstaller(
        busyTimeUsed < kInstallerBusyLimitMs ? kInstallerBusyLimitMs - busyTimeUsed : 0);
    if (!msiExec) msiExec.emplace(GetMsiExecPath(), commandLine, environment);
    const bool ran = RunToExitCode(*msiExec, waitMs, exitCode);
    msiExec.reset();
    if (!ran) return false;

    // The log folder is shared by every user of the machine: a log that
    // cannot be opened must not cost the installation.
    if (exitCode == kMsiExitLogFailure && !logDropped) {
      PrimitiveLogger::Log(kRunTag,
                           "msiexec could not open its log (%lu); running it again "
                           "without the log switch",
                           exitCode);
      commandLine = WithoutMsiLog(commandLine);
      logDropped = true;
      continue;
    }
    // Another installation started between the wait and this run, or the
    // installer's mutex could not be watched.
    if (exitCode == kMsiExitInstallerBusy && MillisecondsSince(start) < kInstallerBusyLimitMs) {
      PrimitiveLogger::Log(kRunTag,
                           "Windows Installer is busy with another installation (%lu); trying "
                           "again in %lu seconds",
                           exitCode, kInstallerBusyRetryMs / 1000);
      Sleep(kInstallerBusyRetryMs);
      continue;
    }
    return true;
  }
}
