#include "remediation/msi_command_line.h"

#include "remediation/payload_constants.h"
#include "system/known_folders.h"

using namespace payload_constants;

namespace {

// The quiet mode also sets the launcher package's push property; an
// interactive install shows msiexec's own user interface and sets nothing.
std::string ModeAndLog(bool interactive, const std::string& logName) {
  std::string folder = GetKnownFolderPath(KnownFolder::Public);
  // One separator between the Public folder and the sub-folder. Without a
  // Public folder the log goes to the sub-folder at the current drive's root.
  const char* subFolder = kMsiLogSubFolder;
  if (!folder.empty() && folder.back() == '\\') ++subFolder;
  return std::string(interactive ? kMsiInteractiveMode : kMsiQuietMode) + kMsiLogSwitch + folder +
         subFolder + logName + kMsiLogSuffix;
}

}  // namespace

std::string BuildMsiInstallCommandLine(bool interactive, const std::string& packagePath,
                                       const std::string& logName) {
  return kMsiInstallVerb + packagePath + kMsiQuote + ModeAndLog(interactive, logName);
}

std::string BuildMsiUninstallCommandLine(bool interactive, const std::string& productCode,
                                         const std::string& logName) {
  return kMsiRemoveVerb + productCode + ModeAndLog(interactive, logName);
}

std::string WithoutMsiLog(const std::string& arguments) {
  return arguments.substr(0, arguments.rfind(kMsiLogSwitch));
}
