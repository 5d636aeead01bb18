#include "remediation/product_store.h"

#include <mbstring.h>

#include "logging/environment_text.h"
#include "logging/primitive_logger.h"
#include "remediation/product_store_constants.h"
#include "system/ini_store.h"
#include "system/known_folders.h"
#include "system/registry_store.h"
#include "system/system_constants.h"

using namespace product_store_constants;

void MarkPerUserCompStatusInRegistry() {
  constexpr char kTag[] = "MarkPerUserCompStatusInRegistry";
  PrimitiveLogger::Log(kTag, ">>>");
  // The write logs its own outcome; an unset marker only means the next run
  // does the work again.
  WriteValToReg(kPerUserCompsFixedValue, kMarkerSetText, kRemedionKey);
  PrimitiveLogger::Log(kTag, "Marking PerUser component completion status in reg");
}

bool IsPerUserCompStatusMarkedInRegistry() {
  PrimitiveLogger::Log("IsPerUserCompStatusMarkedInRegistry", ">>>");
  const std::string marker = GetStringFromReg(
      system_constants::kHiveCurrentUser, kPerUserCompsFixedValue, kMarkerUnsetText, kRemedionKey);
  return _mbsicmp(reinterpret_cast<const unsigned char*>(marker.c_str()),
                  reinterpret_cast<const unsigned char*>(kMarkerSetText)) == 0;
}

std::string GetVersionIniPath() {
  std::string expanded;
  return ExpandEnvironmentText(
             GetKnownFolderPath(KnownFolder::ProgramFilesX86) + kVersionIniRelativePath,
             kVersionIniPathBufferSize, expanded)
             ? expanded
             : std::string();
}

std::string GetVersionFromINI() {
  const std::string path = GetVersionIniPath();
  // An empty name would send the profile API to look in the Windows folder.
  if (path.empty()) return kNotInIni;
  return ReadIniText(path, kIniSection, kIniVersionKey, kNotInIni);
}
