// Which per-user components need to be (re)installed, judged by the version
// resources of their installed executables against the current release.
#pragma once

#include <cstdint>
#include <string>

class ConfigDrivenState;

// What the version check found of one component.
enum class VersionState {
  NotRead,     // the check did not get to it (the folder could not be expanded)
  Current,     // at or above the current release
  Outdated,    // older than the current release
  Missing,     // no executable
  Broken,      // an executable without a version resource, or no valid image
  Unreadable,  // the executable could not be read (access denied, in use)
};

struct ComponentReading {
  VersionState state = VersionState::NotRead;
  std::string version;  // "22.7.2" when read
};

struct ComponentReadings {
  ComponentReading launcher;
  ComponentReading setupClient;
};

// Whether a component in this state needs to be (re)installed: outdated,
// missing or broken. One that cannot be read is left alone.
bool NeedsRepair(VersionState state);

// Reads both components' versions, logging each step under `tag`, as the
// upgrade check does; both NotRead when the components' folder cannot be
// expanded. A
// file-system error other than "not found" while testing for a file is
// thrown as FileSysUtils::FileSystemError.
ComponentReadings ReadComponentVersions(const char* tag);

// Sets state.upgradeRequiredMask (0x200 launcher, 0x400 setup client) from
// ReadComponentVersions, whose result goes to `readings`, and, when any
// component needs work, starts the run's progress window (a box starts only
// once, however often the check runs). False only when the components'
// folder cannot be expanded.
bool isUpgradeRequired(ConfigDrivenState& state, ComponentReadings& readings);
bool isUpgradeRequired(ConfigDrivenState& state);

// Writes "<product major>.<file minor>.<file build>" of `filePath` into
// `version` (`versionSize` bytes, NUL included). Returns 0 on success, 2 when
// nothing exists at the path, 3 when the file can be read but has no
// version resource or is no valid image, 1 on any other failure (also a
// text that does not fit). A file-system error other than "not found" while
// testing for the file is thrown as FileSysUtils::FileSystemError.
uint32_t getFileVersion(const char* filePath, char* version, const uint32_t& versionSize);

// One component's executable read as the check reads it, without a word in
// the log.
ComponentReading ReadComponentQuietly(const std::string& exePath);

// Both components read again quietly, for the checks after the run's work
// (the upgrade check's lines are not repeated); both NotRead when the
// components' folder cannot be expanded.
ComponentReadings ReadComponentVersionsQuietly();

// Whether a version could be read: the component is installed and works,
// current or not.
bool IsReadable(const ComponentReading& reading);

// Compares a client version text with the current release field by field as
// numbers: -1 when the client is older or has another number of fields (or
// is empty), 0 when equal, 1 when newer.
int compareVersion(const char* clientVersion);
