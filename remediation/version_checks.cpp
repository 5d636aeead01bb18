#include "remediation/version_checks.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "logging/once_guard.h"
#include "logging/primitive_logger.h"
#include "logging/unique_handle.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/component_constants.h"
#include "remediation/version_constants.h"
#include "state/config_driven_state.h"
#include "state/run_state_constants.h"
#include "logging/environment_text.h"
#include "system/file_sys_utils.h"
#include "system/version_library.h"

using namespace version_constants;

namespace {

constexpr char kUpgradeTag[] = "isUpgradeRequired";
constexpr char kFileVersionTag[] = "getFileVersion";
constexpr char kCompareTag[] = "compareVersion";

OnceGuard g_progress_start_once;

// One component as the check finds it, logged under `tag`.
ComponentReading ReadComponent(const std::string& path, const char* label, const char* tag) {
  char version[kVersionTextBufferSize] = {};
  const uint32_t status = getFileVersion(path.c_str(), version, kVersionTextBufferSize);
  if (status == kVersionStatusSuccess) {
    const bool outdated = compareVersion(version) < 0;
    PrimitiveLogger::Log(tag, outdated ? "%s Upgrade is Required" : "%s Upgrade NOT Required",
                         label);
    return {outdated ? VersionState::Outdated : VersionState::Current, version};
  }
  PrimitiveLogger::Log(tag, "Failed to get %s version, Error: %lu", label,
                       static_cast<unsigned long>(status));
  switch (status) {
    case kVersionStatusFileMissing:
      return {VersionState::Missing, ""};
    case kVersionStatusBroken:
      PrimitiveLogger::Log(tag,
                           "%s needs repair: its executable has no version resource or is no "
                           "valid image",
                           label);
      return {VersionState::Broken, ""};
    default:
      return {VersionState::Unreadable, ""};
  }
}

// Whether the file itself can be opened for reading, as the version calls
// open it: when it can, a failed version read is the file's own fault.
bool CanOpenForReading(const char* path) {
  UniqueHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

// The status of a failed version read, with the failed call's error: broken
// when the file opens, so that a version resource is what it lacks.
uint32_t VersionReadFailure(const char* path, DWORD error) {
  if (!CanOpenForReading(path)) return kVersionStatusFailure;
  PrimitiveLogger::Log(kFileVersionTag,
                       "File '%s' can be read but has no version resource or is no valid image "
                       "(%lu)",
                       path, error);
  return kVersionStatusBroken;
}

// Reads one decimal field at `*position`; a position that is not at a digit
// gives 0 and stays. Unsigned arithmetic: an absurdly long field wraps
// instead of overflowing.
uint32_t ReadField(const char*& position) {
  uint32_t value = 0;
  while (std::isdigit(static_cast<unsigned char>(*position))) {
    value = value * 10u + static_cast<uint32_t>(*position - '0');
    ++position;
  }
  return value;
}

void SkipSeparators(const char*& position) {
  while (*position == ' ' || *position == ',' || *position == '.') ++position;
}

}  // namespace

bool NeedsRepair(VersionState state) {
  return state == VersionState::Outdated || state == VersionState::Missing ||
         state == VersionState::Broken;
}

ComponentReadings ReadComponentVersions(const char* tag) {
  // A folder that does not fit the buffer, or holds letters the ANSI code
  // page lacks, would name other files than the components'.
  std::string folder;
  if (!ExpandEnvironmentTextOrLog(kComponentsFolder, kExpandedFolderBufferSize, folder, tag,
                                  "ExpandEnvironmentStrings failed with last error: %lu")) {
    return {};
  }
  ComponentReadings readings;
  PrimitiveLogger::Log(tag, "Getting KVAL version");
  readings.launcher =
      ReadComponent(folder + kLauncherRelativePath, component_constants::kLauncherLabel, tag);
  PrimitiveLogger::Log(tag, "Getting Kelvo Setup Client version");
  readings.setupClient =
      ReadComponent(folder + kSetupClientRelativePath, component_constants::kSetupClientLabel, tag);
  return readings;
}

bool isUpgradeRequired(ConfigDrivenState& state, ComponentReadings& readings) {
  state.upgradeRequiredMask = 0;
  readings = ReadComponentVersions(kUpgradeTag);
  if (readings.launcher.state == VersionState::NotRead) return false;

  if (NeedsRepair(readings.launcher.state)) {
    state.upgradeRequiredMask |= run_state_constants::kLauncherUpgradeBit;
  }
  if (NeedsRepair(readings.setupClient.state)) {
    state.upgradeRequiredMask |= run_state_constants::kSetupClientUpgradeBit;
  }

  if (state.upgradeRequiredMask == run_state_constants::kLauncherUpgradeBit ||
      state.upgradeRequiredMask == run_state_constants::kSetupClientUpgradeBit ||
      state.upgradeRequiredMask == run_state_constants::kBothUpgradeBits) {
    g_progress_start_once.Run([&state] {
      if (state.ProgressBox) state.ProgressBox->start();
    });
  }
  return true;
}

bool isUpgradeRequired(ConfigDrivenState& state) {
  ComponentReadings readings;
  return isUpgradeRequired(state, readings);
}

uint32_t getFileVersion(const char* filePath, char* version, const uint32_t& versionSize) {
  if (filePath == nullptr || version == nullptr) {
    PrimitiveLogger::Log(kFileVersionTag, "Parameters in '%s' are Null", "getFileVersion");
    return kVersionStatusFailure;
  }

  if (!FileSysUtils::Exists(filePath)) {
    PrimitiveLogger::Log(kFileVersionTag, "File '%s' does not exists", filePath);
    return kVersionStatusFileMissing;
  }

  DWORD handle = 0;
  const DWORD infoSize = version_library::GetFileVersionInfoSizeA(filePath, &handle);
  if (infoSize == 0) {
    const DWORD error = GetLastError();
    PrimitiveLogger::Log(kFileVersionTag, "GetFileVersionInfoSize Failed with last Error: %lu",
                         error);
    return VersionReadFailure(filePath, error);
  }

  std::vector<unsigned char> block(infoSize, 0);
  if (!version_library::GetFileVersionInfoA(filePath, handle, infoSize, block.data())) {
    const DWORD error = GetLastError();
    PrimitiveLogger::Log(kFileVersionTag, "GetFileVersionInfo Failed with last Error: %lu", error);
    return VersionReadFailure(filePath, error);
  }

  void* record = nullptr;
  UINT recordLength = kFixedFileInfoSize;
  if (!version_library::VerQueryValueA(block.data(), "\\", &record, &recordLength) ||
      record == nullptr || recordLength < sizeof(VS_FIXEDFILEINFO)) {
    PrimitiveLogger::Log(kFileVersionTag, "VerQueryValue Failed");
    // A version resource without its fixed record names no version.
    return kVersionStatusBroken;
  }

  // The release line is the product's major version; the file version's
  // minor and build numbers name the release within it.
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(record);
  const std::string text = std::to_string(HIWORD(info->dwProductVersionMS)) + "." +
                           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                           std::to_string(HIWORD(info->dwFileVersionLS));
  if (text.size() + 1 > versionSize) {
    PrimitiveLogger::Log(kFileVersionTag, "Version '%s' does not fit %lu bytes", text.c_str(),
                         static_cast<unsigned long>(versionSize));
    return kVersionStatusFailure;
  }
  std::memcpy(version, text.c_str(), text.size() + 1);
  return kVersionStatusSuccess;
}

int compareVersion(const char* clientVersion) {
  const char* client = clientVersion != nullptr ? clientVersion : "";
  const char* server = kServerVersion;
  PrimitiveLogger::Log(kCompareTag, "ClientVersion: \"%s\" ServerVersion: \"%s\"", client, server);
  if (*client == '\0') {
    PrimitiveLogger::Log(kCompareTag, "ClientVersion is empty, need upgrade");
    return -1;
  }

  for (;;) {
    PrimitiveLogger::Log(kCompareTag, "ClientVersion: \"%s\" ServerVersion: \"%s\"", client,
                         server);
    const uint32_t clientField = ReadField(client);
    const uint32_t serverField = ReadField(server);
    PrimitiveLogger::Log(kCompareTag, "Client: %d Server: %d", static_cast<int>(clientField),
                         static_cast<int>(serverField));
    if (clientField > serverField) {
      PrimitiveLogger::Log(kCompareTag, "ClientVersion is greater, return 1");
      return 1;
    }
    if (clientField < serverField) {
      PrimitiveLogger::Log(kCompareTag, "ClientVersion is smaller, return -1");
      return -1;
    }

    SkipSeparators(client);
    SkipSeparators(server);
    const bool clientEnded = *client == '\0';
    const bool serverEnded = *server == '\0';
    if (clientEnded && serverEnded) {
      PrimitiveLogger::Log(kCompareTag, "Versions are identical");
      return 0;
    }
    if (clientEnded || serverEnded) {
      PrimitiveLogger::Log(kCompareTag, "ERROR: Client/Server version mismatch, return -1");
      return -1;
    }
  }
}
