#include "remediation/version_checks.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "progress/qv_progress_message_box.h"
#include "remediation/component_constants.h"
#include "remediation/version_constants.h"
#include "state/config_driven_state.h"
#include "state/run_state_constants.h"
#include "logging/environment_text.h"
#include "system/file_sys_utils.h"
#include "system/library_calls.h"

using namespace version_constants;

namespace {

constexpr char kUpgradeTag[] = "isUpgradeRequired";
constexpr char kFileVersionTag[] = "getFileVersion";
constexpr char kCompareTag[] = "compareVersion";

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

enum class ReadStep { None, Exists, InfoSize, Info, FixedRecord };

// A version resource read without a word in the log: the status as
// getFileVersion returns it, the version text, and the step that failed.
struct VersionRead {
  uint32_t status = kVersionStatusFailure;
  std::string version;
  ReadStep failedStep = ReadStep::None;
  DWORD error = ERROR_SUCCESS;
};

VersionRead Failure(ReadStep step, uint32_t status, DWORD error) {
  VersionRead read;
  read.status = status;
  read.failedStep = step;
  read.error = error;
  return read;
}

// A failed version call is the file's own fault (broken) when the file
// opens: a version resource is what it lacks.
VersionRead CallFailure(const char* path, ReadStep step, DWORD error) {
  return Failure(step, CanOpenForReading(path) ? kVersionStatusBroken : kVersionStatusFailure,
                 error);
}

VersionRead ReadVersionResource(const char* path) {
  if (!FileSysUtils::Exists(path)) {
    return Failure(ReadStep::Exists, kVersionStatusFileMissing, ERROR_FILE_NOT_FOUND);
  }
  DWORD handle = 0;
  DWORD infoSize = 0;
  const Win32Result sized = version_library::GetFileVersionInfoSizeA(path, infoSize, handle);
  if (!sized) return CallFailure(path, ReadStep::InfoSize, sized.error());
  std::vector<unsigned char> block(infoSize, 0);
  const Win32Result filled =
      version_library::GetFileVersionInfoA(path, handle, infoSize, block.data());
  if (!filled) return CallFailure(path, ReadStep::Info, filled.error());
  void* record = nullptr;
  UINT recordLength = kFixedFileInfoSize;
  if (!version_library::VerQueryValueA(block.data(), "\\", &record, &recordLength) ||
      record == nullptr || recordLength < sizeof(VS_FIXEDFILEINFO)) {
    // A version resource without its fixed record names no version.
    return Failure(ReadStep::FixedRecord, kVersionStatusBroken, ERROR_SUCCESS);
  }
  // The release line is the product's major version; the file version's
  // minor and build numbers name the release within it.
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(record);
  VersionRead read;
  read.status = kVersionStatusSuccess;
  read.version = std::to_string(HIWORD(info->dwProductVersionMS)) + "." +
                 std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                 std::to_string(HIWORD(info->dwFileVersionLS));
  return read;
}

// getFileVersion's word on a failed version call that proved the file
// broken.
uint32_t LoggedReadFailure(const char* path, const VersionRead& read) {
  if (read.status == kVersionStatusBroken) {
    PrimitiveLogger::Log(kFileVersionTag,
                         "File '%s' can be read but has no version resource or is no valid image "
                         "(%lu)",
                         path, read.error);
  }
  return read.status;
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

// Compares a client version text with the current release field by field;
// `trace` logs each step as the upgrade check always has.
int CompareWithServerVersion(const char* clientVersion, bool trace) {
  const char* client = clientVersion != nullptr ? clientVersion : "";
  const char* server = kServerVersion;
  const auto log = [trace](const char* format, auto... args) {
    if (trace) PrimitiveLogger::Log(kCompareTag, format, args...);
  };
  log("ClientVersion: \"%s\" ServerVersion: \"%s\"", client, server);
  if (*client == '\0') {
    log("ClientVersion is empty, need upgrade");
    return -1;
  }

  for (;;) {
    log("ClientVersion: \"%s\" ServerVersion: \"%s\"", client, server);
    const uint32_t clientField = ReadField(client);
    const uint32_t serverField = ReadField(server);
    log("Client: %d Server: %d", static_cast<int>(clientField), static_cast<int>(serverField));
    if (clientField > serverField) {
      log("ClientVersion is greater, return 1");
      return 1;
    }
    if (clientField < serverField) {
      log("ClientVersion is smaller, return -1");
      return -1;
    }

    SkipSeparators(client);
    SkipSeparators(server);
    const bool clientEnded = *client == '\0';
    const bool serverEnded = *server == '\0';
    if (clientEnded && serverEnded) {
      log("Versions are identical");
      return 0;
    }
    if (clientEnded || serverEnded) {
      log("ERROR: Client/Server version mismatch, return -1");
      return -1;
    }
  }
}

// The components' folder expanded, as the upgrade check expands it; empty
// when it cannot be (not logged: the quiet reads say nothing).
std::string ExpandedComponentsFolder() {
  std::string folder;
  return ExpandEnvironmentText(kComponentsFolder, kExpandedFolderBufferSize, folder)
             ? folder
             : std::string();
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
  const Win32Result expanded =
      ExpandEnvironmentText(kComponentsFolder, kExpandedFolderBufferSize, folder);
  if (!expanded) {
    PrimitiveLogger::Log(tag, "ExpandEnvironmentStrings failed with last error: %lu",
                         expanded.error());
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
    // The run's one box shows only its first start, however often the
    // check runs.
    if (state.ProgressBox) state.ProgressBox->start();
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
  const VersionRead read = ReadVersionResource(filePath);
  switch (read.failedStep) {
    case ReadStep::None:
      break;
    case ReadStep::Exists:
      PrimitiveLogger::Log(kFileVersionTag, "File '%s' does not exists", filePath);
      return read.status;
    case ReadStep::InfoSize:
      PrimitiveLogger::Log(kFileVersionTag, "GetFileVersionInfoSize Failed with last Error: %lu",
                           read.error);
      return LoggedReadFailure(filePath, read);
    case ReadStep::Info:
      PrimitiveLogger::Log(kFileVersionTag, "GetFileVersionInfo Failed with last Error: %lu",
                           read.error);
      return LoggedReadFailure(filePath, read);
    case ReadStep::FixedRecord:
      PrimitiveLogger::Log(kFileVersionTag, "VerQueryValue Failed");
      return read.status;
  }
  if (read.version.size() + 1 > versionSize) {
    PrimitiveLogger::Log(kFileVersionTag, "Version '%s' does not fit %lu bytes",
                         read.version.c_str(), static_cast<unsigned long>(versionSize));
    return kVersionStatusFailure;
  }
  std::memcpy(version, read.version.c_str(), read.version.size() + 1);
  return kVersionStatusSuccess;
}

int compareVersion(const char* clientVersion) {
  return CompareWithServerVersion(clientVersion, true);
}

ComponentReading ReadComponentQuietly(const std::string& exePath) {
  const VersionRead read = ReadVersionResource(exePath.c_str());
  if (read.status == kVersionStatusSuccess) {
    const bool outdated = CompareWithServerVersion(read.version.c_str(), false) < 0;
    return {outdated ? VersionState::Outdated : VersionState::Current, read.version};
  }
  switch (read.status) {
    case kVersionStatusFileMissing:
      return {VersionState::Missing, ""};
    case kVersionStatusBroken:
      return {VersionState::Broken, ""};
    default:
      return {VersionState::Unreadable, ""};
  }
}

ComponentReadings ReadComponentVersionsQuietly() {
  const std::string folder = ExpandedComponentsFolder();
  if (folder.empty()) return {};
  return {ReadComponentQuietly(folder + kLauncherRelativePath),
          ReadComponentQuietly(folder + kSetupClientRelativePath)};
}

bool IsReadable(const ComponentReading& reading) {
  return reading.state == VersionState::Current || reading.state == VersionState::Outdated;
}
