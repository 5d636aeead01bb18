#include "remediation/msi_command_line.h"

#include "logging/log_file.h"
#include "logging/primitive_logger.h"
#include "remediation/payload_constants.h"
#include "system/known_folders.h"

using namespace payload_constants;

namespace {

constexpr char kLogTag[] = "MsiLogPath";

// <folder>\Tessaly\Logging\<logName>.log, with one separator between the
// folder and the sub-folder. Without a folder the log goes to the sub-folder
// at the current drive's root.
std::string LogPathIn(const std::string& folder, const std::string& logName) {
  const char* subFolder = kMsiLogSubFolder;
  if (!folder.empty() && folder.back() == '\\') ++subFolder;
  return folder + subFolder + logName + kMsiLogExtension;
}

// The log msiexec appends to. The Public folder's is shared by every user
// of the machine, so it gets the checks the helper's own log gets; refused,
// msiexec logs to the same name in the user's own local application data,
// and without either it runs without a log.
std::string MsiLogPath(const std::string& logName) {
  const std::string shared = LogPathIn(GetKnownFolderPath(KnownFolder::Public), logName);
  const std::string problem = LogTargetProblem(shared);
  if (problem.empty()) return shared;

  const std::string localFolder = GetKnownFolderPath(KnownFolder::LocalAppData);
  const std::string own = localFolder.empty() ? "" : LogPathIn(localFolder, logName);
  const std::string ownProblem =
      own.empty() ? "the local application-data folder is unknown" : LogTargetProblem(own);
  if (ownProblem.empty()) {
    PrimitiveLogger::Log(kLogTag, "msiexec's log %s is refused: %s; it logs to %s instead",
                         shared.c_str(), problem.c_str(), own.c_str());
    return own;
  }
  PrimitiveLogger::Log(kLogTag,
                       "msiexec's log %s is refused: %s; the per-user one %s as well: %s; msiexec "
                       "runs without a log",
                       shared.c_str(), problem.c_str(), own.c_str(), ownProblem.c_str());
  return "";
}

// The quiet mode also sets the launcher package's push property; an
// interactive install shows msiexec's own user interface and sets nothing.
std::string ModeAndLog(bool interactive, const std::string& logName) {
  std::string arguments = interactive ? kMsiInteractiveMode : kMsiQuietMode;
  const std::string log = MsiLogPath(logName);
  if (!log.empty()) arguments += kMsiLogSwitch + log + kMsiQuote;
  return arguments;
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
