// Runs one system-service operation in a process of its own, so that a test
// can read the finished log file. The exit code reports what the probe saw;
// 99 is a usage error.
#include <windows.h>

#include <string>

#include "logging/primitive_logger.h"
#include "system/file_sys_utils.h"
#include "system/registry_store.h"
#include "system/temp_installer_path.h"

namespace {

// Exit 0 when the path is gone afterwards, 1 when it is still there. With
// "lock", the file is held open without delete sharing during the clean-up.
int CleanUp(const std::string& path, bool lock) {
  HANDLE held = INVALID_HANDLE_VALUE;
  if (lock) {
    held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 98;
  }
  CleanUpFile(path);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return FileSysUtils::Exists(path) ? 1 : 0;
}

int TempName(const std::string& prefix, const std::string& extension) {
  const std::string name = GetTempPathForUnSafeInstaller(prefix, extension);
  PrimitiveLogger::Log("probe", "name=[%s]", name.c_str());
  return name.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string argument = argc > 2 ? argv[2] : "";
  int result = 99;
  if (mode == "cleanup") result = CleanUp(argument, false);
  if (mode == "cleanup-locked") result = CleanUp(argument, true);
  if (mode == "temp-name") result = TempName(argument, argc > 3 ? argv[3] : "");
  if (mode == "marker-read") result = IsPerUserCompStatusMarkedInRegistry() ? 10 : 11;
  if (mode == "marker-write") {
    MarkPerUserCompStatusInRegistry();
    result = 0;
  }
  if (mode == "write") result = WriteValToReg("ProbeValue", "abc", argument) ? 10 : 11;
  if (mode == "write-after-error") {
    // The logger exists before the error is set, so only the write can
    // change it.
    PrimitiveLogger::Log("probe", "ready");
    SetLastError(ERROR_ACCESS_DENIED);
    result = WriteValToReg("ProbeValue", "abc", argument) ? 10 : 11;
  }
  ShutdownLogger();
  return result;
}
