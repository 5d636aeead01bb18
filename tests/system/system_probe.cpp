// Runs one system-service operation in a process of its own, so that a test
// can read the finished log file. The exit code reports what the probe saw;
// 99 is a usage error.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>

#include "logging/primitive_logger.h"
#include "system/file_sys_utils.h"
#include "system/known_folders.h"
#include "system/qv_file_lock.h"
#include "system/registry_store.h"
#include "system/signature_verification.h"
#include "system/staging_folder.h"

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

int KnownFolderPath(const std::string& id) {
  const std::string folder = GetKnownFolderPath(static_cast<KnownFolder>(std::atoi(id.c_str())));
  PrimitiveLogger::Log("probe", "folder=[%s]", folder.c_str());
  return folder.empty() ? 1 : 0;
}

// The folder a run would stage installers in, with `privateFolder` under
// the local application-data folder as the fallback; exit 1 when none.
int StagingFolderPath(const std::string& privateFolder) {
  StagingFolder folder(privateFolder);
  PrimitiveLogger::Log("probe", "folder=[%s]", folder.Path().c_str());
  return folder.Path().empty() ? 1 : 0;
}

// Exit 0 when the lock was taken (and released), 1 when it threw; the
// exception's text is logged under "probe".
int Lock(const std::string& path) {
  try {
    QVFileLock lock(path);
    return 0;
  } catch (const std::exception& error) {
    PrimitiveLogger::Log("probe", "thrown=[%s]", error.what());
    return 1;
  }
}

// What another process may do with a file: exit bit 1 read, 2 overwrite,
// 4 delete.
int Access(const std::string& path) {
  int allowed = 0;
  const DWORD anySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (const auto& [access, bit] : {std::pair<DWORD, int>{GENERIC_READ, 1}, {GENERIC_WRITE, 2}}) {
    HANDLE file = CreateFileA(path.c_str(), access, anySharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      allowed |= bit;
      CloseHandle(file);
    }
  }
  if (DeleteFileA(path.c_str())) allowed |= 4;
  return allowed;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string argument = argc > 2 ? argv[2] : "";
  int result = 99;
  if (mode == "cleanup") result = CleanUp(argument, false);
  if (mode == "cleanup-locked") result = CleanUp(argument, true);
  if (mode == "known-folder") result = KnownFolderPath(argument);
  if (mode == "staging-folder") result = StagingFolderPath(argument);
  if (mode == "verify" && argc > 5) {
    result = qvVerifySignature(argument, argv[3], argv[4], argv[5]) ? 10 : 11;
  }
  if (mode == "lock") result = Lock(argument);
  if (mode == "access") result = Access(argument);
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
