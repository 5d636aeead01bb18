// Names, paths and numbers of the installed-version checks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace version_constants {

// The oldest component release that needs no reinstallation.
constexpr char kServerVersion[] = "22.7.2";

// Where the per-user components live, before and after expansion.
constexpr char kComponentsFolder[] = "%APPDATA%\\Tessaly\\";
constexpr char kLauncherRelativePath[] = "KVAL\\KelvoApplicationLauncher.exe";
constexpr char kSetupClientRelativePath[] = "Setup Client\\KelvoSetupClient.exe";

constexpr size_t kExpandedFolderBufferSize = 260;  // MAX_PATH
// Three 16-bit numbers as "%d.%d.%d": at most 15 characters and the NUL fit.
constexpr uint32_t kVersionTextBufferSize = 16;

// getFileVersion results.
constexpr uint32_t kVersionStatusSuccess = 0;
constexpr uint32_t kVersionStatusFailure = 1;
constexpr uint32_t kVersionStatusFileMissing = 2;
// The file can be read but carries no version resource or is no valid image
// (empty, truncated, not a program): a broken installation.
constexpr uint32_t kVersionStatusBroken = 3;

// Size of the fixed file-information record (VS_FIXEDFILEINFO).
constexpr unsigned kFixedFileInfoSize = 52;

}  // namespace version_constants
