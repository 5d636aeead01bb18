#include "remediation/restore_points.h"

#include <exception>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "remediation/component_constants.h"
#include "remediation/msi_command_line.h"
#include "remediation/msiexec_run.h"
#include "remediation/version_checks.h"
#include "system/folder_tree.h"
#include "system/library_calls.h"
#include "system/registry_values.h"
#include "system/small_file.h"

using namespace component_constants;

namespace {

constexpr char kTag[] = "RestorePoints";
constexpr char kRollBackTag[] = "RollBackFailedInstalls";
constexpr size_t kPropertyBufferSize = MAX_PATH;

std::wstring SavedFolder(const std::wstring& runFolder, int index) {
  return runFolder + L"setup-client-" + AnsiToWide(std::to_string(index)) + L"\\";
}

// A Windows Installer property of an installed product; empty when it has
// none.
std::string ProductProperty(const std::string& productCode, const char* property) {
  char value[kPropertyBufferSize] = {};
  DWORD size = kPropertyBufferSize;
  if (msi_library::MsiGetProductInfoA(productCode.c_str(), property, value, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return value;
}

// The registration in Programs and Features whose uninstaller is the one in
// `folder` (narrow, ending in a backslash); empty when it has none.
std::wstring RegistrationOf(const std::string& folder) {
  const std::wstring uninstaller = AnsiToWide(folder + kUninstallerFileName);
  for (const std::wstring& name : SubKeyNames(HKEY_CURRENT_USER, kUninstallKey)) {
    std::vector<RegistryValue> values;
    if (!ReadKeyValues(HKEY_CURRENT_USER, std::wstring(kUninstallKey) + L"\\" + name, values,
                       kTag)) {
      continue;
    }
    for (const RegistryValue& value : values) {
      if (_wcsicmp(value.name.c_str(), kUninstallStringValue) != 0 ||
          (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) {
        continue;
      }
      std::wstring command(reinterpret_cast<const wchar_t*>(value.data.data()),
                           value.data.size() / sizeof(wchar_t));
      command = command.c_str();  // up to its NUL
      if (!command.empty() && command.front() == L'"') {
        command = command.substr(1, command.find(L'"', 1) - 1);
      }
      if (_wcsicmp(command.c_str(), uninstaller.c_str()) == 0) return name;
    }
  }
  return {};
}

// One company folder saved as saved.index: its files, read back, and its
// registration.
bool SaveSetupClientFolder(const std::wstring& runFolder, const std::string& folder,
                           const SavedSetupClient& saved, std::string& why) {
  const std::wstring target = SavedFolder(runFolder, saved.index);
  const Win32Result copied =
      CreateDirectoryW(target.c_str(), nullptr)
          ? CopyTreeVerified(AnsiToWide(folder), target + kSavedFilesFolderName, kTag)
          : Win32Result::LastError();
  if (!copied) {
    why = "its files in " + folder + " could not be saved (error " +
          std::to_string(copied.error()) + ")";
    return false;
  }
  const std::wstring registration = RegistrationOf(folder);
  if (registration.empty()) return true;
  std::vector<RegistryValue> values;
  Win32Result saved_ = ReadKeyValues(
      HKEY_CURRENT_USER, std::wstring(kUninstallKey) + L"\\" + registration, values, kTag);
  if (saved_) {
    saved_ =
        WriteFileWhole(target + kSavedRegistrationFileName, EncodeKey(registration, values), kTag);
  }
  if (!saved_) {
    why = "its registration could not be saved (error " + std::to_string(saved_.error()) + ")";
    return false;
  }
  return true;
}

std::string RestoredText(const char* label, const std::string& version) {
  return std::string(label) + " " + (version.empty() ? "(its earlier version)" : version);
}

}  // namespace

std::string SetupClientFolder(const std::string& appData, const std::string& company) {
  return appData + company + "\\" + kSetupClientProduct + "\\";
}

const std::string& RestorePoints::Open() {
  if (problem_) return *problem_;
  problem_.emplace();
  Win32Result made = RunFolder::Make(kRestoreRoot, kRunLockFileName, folder_, kTag);
  if (made) made = RunJournal::Start(folder_.path() + kJournalFileName, journal_);
  if (!made) {
    *problem_ = "its restore point has no folder (error " + std::to_string(made.error()) + ")";
    PrimitiveLogger::Log(kTag, "The run's restore folder cannot be made:  %lu", made.error());
    folder_ = RunFolder();
    return *problem_;
  }
  PrimitiveLogger::Log(kTag, "Restore points and the run's journal are kept in %s",
                       WideToAnsi(folder_.path()).c_str());
  return *problem_;
}

void RestorePoints::NoteStaged(const std::string& path) {
  if (journal_.started()) (void)journal_.Staged(AnsiToWide(path));
}

void RestorePoints::NoteMadeFolder(const std::wstring& path) {
  if (journal_.started()) (void)journal_.MadeFolder(path);
}

ULONGLONG RestorePoints::SetupClientBytes(const std::string& appData) {
  ULONGLONG bytes = 0;
  for (const char* company : {kTessalyCompany, kQuarnelCompany}) {
    const std::string folder = SetupClientFolder(appData, company);
    if (GetFileAttributesW(AnsiToWide(folder + kUninstallerFileName).c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    // A folder that cannot be measured is refused when it is saved.
    (void)TreeSize(AnsiToWide(folder), bytes, kTag);
  }
  return bytes;
}

ULONGLONG RestorePoints::LauncherBytes(const std::string& productCode) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  const std::string package = ProductProperty(productCode, kLocalPackageProperty);
  if (package.empty() ||
      !GetFileAttributesExW(AnsiToWide(package).c_str(), GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RestorePoints::SaveSetupClient(const std::string& appData, std::string& why) {
  why = Open();
  if (!why.empty()) return false;
  for (const char* company : {kTessalyCompany, kQuarnelCompany}) {
    const std::string folder = SetupClientFolder(appData, company);
    if (GetFileAttributesW(AnsiToWide(folder + kUninstallerFileName).c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    SavedSetupClient saved;
    saved.index = static_cast<int>(setupClients_.size());
    saved.company = company;
    saved.version = ReadComponentQuietly(folder + kSetupClientExeName).version;
    if (!SaveSetupClientFolder(folder_.path(), folder, saved, why)) return false;
    const Win32Result noted = journal_.SavedSetupClientFolder(saved);
    if (!noted) {
      why = "its restore point could not be written down (error " + std::to_string(noted.error()) +
            ")";
      return false;
    }
    PrimitiveLogger::Log(kTag, "Restore point of Setup Client (from %s) saved: version %s", company,
                         saved.version.empty() ? "unreadable" : saved.version.c_str());
    setupClients_.push_back(saved);
  }
  return true;
}

bool RestorePoints::SaveLauncher(const std::string& productCode, std::string& why) {
  why = Open();
  if (!why.empty()) return false;
  const std::string package = ProductProperty(productCode, kLocalPackageProperty);
  const std::wstring copy = folder_.path() + kSavedPackageFileName;
  if (package.empty() || !WideToAnsiExact(copy)) {
    why = package.empty() ? "Windows Installer keeps no package of it"
                          : "its saved package could not be named for msiexec";
    return false;
  }
  // The copy is the package msiexec will be given: read back against the
  // cache before anything is removed.
  Win32Result saved = CopyFileW(AnsiToWide(package).c_str(), copy.c_str(), FALSE)
                          ? CompareFiles(AnsiToWide(package), copy, kTag)
                          : Win32Result::LastError();
  if (saved) {
    launcher_ = SavedLauncher{productCode, ProductProperty(productCode, kVersionStringProperty)};
    saved = journal_.SavedLauncherPackage(*launcher_);
  }
  if (!saved) {
    launcher_.reset();
    why = "its cached package " + package + " could not be saved (error " +
          std::to_string(saved.error()) + ")";
    return false;
  }
  PrimitiveLogger::Log(kTag, "Restore point of %s saved: %s, version %s", kLauncherProductName,
                       productCode.c_str(), launcher_->version.c_str());
  return true;
}

void RestorePoints::RemovingSetupClient(const std::string& company) {
  // Only a company folder with a restore point is removed by this run.
  for (const SavedSetupClient& saved : setupClients_) {
    if (saved.company != company) continue;
    removingSetupClients_.push_back(company);
    (void)journal_.RemovingSetupClient(company);
    return;
  }
}

void RestorePoints::RemovingLauncher() {
  removingLauncher_ = true;
  (void)journal_.RemovingLauncher();
}

void RestorePoints::RollBackFailedInstalls(const std::string& appData,
                                           const std::wstring& environment,
                                           const InstallReport& setupClient,
                                           const InstallReport& launcher,
                                           std::vector<std::string>& restored) {
  // Until everything this run removed is back, its restore points stay for
  // the next run's recovery (the journal says what was being removed),
  // also when an exception ends the rollback here.
  folder_.KeepWhenGone(true);
  if (PutBackFailedInstalls(appData, environment, setupClient, launcher, restored)) {
    folder_.KeepWhenGone(false);
    return;
  }
  PrimitiveLogger::Log(kRollBackTag,
                       "Not everything this run removed is back; its restore points in %s are "
                       "kept for the next run to put back",
                       WideToAnsi(folder_.path()).c_str());
}

bool RestorePoints::PutBackFailedInstalls(const std::string& appData,
                                          const std::wstring& environment,
                                          const InstallReport& setupClient,
                                          const InstallReport& launcher,
                                          std::vector<std::string>& restored) {
  if (removingSetupClients_.empty() && !removingLauncher_) return true;
  bool allBack = true;
  const ComponentReadings now = ReadComponentVersionsQuietly();

  if (!removingSetupClients_.empty() && !(setupClient.succeeded && IsReadable(now.setupClient))) {
    const std::string why =
        !setupClient.succeeded ? setupClient.why : std::string("it left no readable executable");
    // One component, whose version is its Tessaly folder's; a folder of
    // another company is named in its own line.
    std::optional<std::string> restoredVersion;
    for (const SavedSetupClient& saved : setupClients_) {
      const Win32Result back = PutBackSetupClient(folder_.path(), saved, appData, kRollBackTag);
      const std::string name =
          saved.company == kTessalyCompany
              ? std::string(kSetupClientProduct)
              : std::string(kSetupClientProduct) + " (from " + saved.company + ")";
      if (!back) {
        PrimitiveLogger::Log(kRollBackTag,
                             "Unable to restore %s after its new installation failed; Error:  %lu",
                             name.c_str(), back.error());
        allBack = false;
        continue;
      }
      PrimitiveLogger::Log(
          kRollBackTag, "%s restored to %s after its new installation failed: %s", name.c_str(),
          saved.version.empty() ? "its earlier version" : saved.version.c_str(), why.c_str());
      if (!restoredVersion || saved.company == kTessalyCompany) restoredVersion = saved.version;
    }
    if (restoredVersion) restored.push_back(RestoredText(kSetupClientProduct, *restoredVersion));
  }

  if (removingLauncher_ && launcher_ && !(launcher.succeeded && IsReadable(now.launcher))) {
    const std::string why =
        !launcher.succeeded ? launcher.why : std::string("it left no readable executable");
    const Win32Result back = PutBackLauncher(folder_.path(), environment, kRollBackTag);
    if (!back) {
      PrimitiveLogger::Log(kRollBackTag,
                           "Unable to restore %s after its new installation failed; Error:  %lu",
                           kLauncherProductName, back.error());
      return false;
    }
    PrimitiveLogger::Log(kRollBackTag, "%s restored to %s after its new installation failed: %s",
                         kLauncherProductName, launcher_->version.c_str(), why.c_str());
    restored.push_back(RestoredText(kLauncherLabel, launcher_->version));
  }
  return allBack;
}

Win32Result PutBackSetupClient(const std::wstring& runFolder, const SavedSetupClient& saved,
                               const std::string& appData, const char* tag) {
  const std::wstring source = SavedFolder(runFolder, saved.index);
  std::vector<std::wstring> made;
  std::wstring target;
  Win32Result back = MakeFolderChain(
      AnsiToWide(appData), AnsiToWide(saved.company) + L"\\" + AnsiToWide(kSetupClientProduct),
      made, target, tag);
  if (back) back = CopyTreeVerified(source + kSavedFilesFolderName, target, tag);
  if (!back) return back;

  const std::wstring registrationFile = source + kSavedRegistrationFileName;
  if (GetFileAttributesW(registrationFile.c_str()) == INVALID_FILE_ATTRIBUTES) return back;
  std::string encoded;
  back = ReadSmallFile(registrationFile, kSavedRegistrationLimitBytes, encoded, tag);
  if (!back) return back;
  std::wstring keyName;
  std::vector<RegistryValue> values;
  // A key name with a separator would write elsewhere than Programs and
  // Features.
  if (!DecodeKey(encoded, keyName, values) || keyName.empty() ||
      keyName.find(L'\\') != std::wstring::npos) {
    PrimitiveLogger::Log(tag, "The saved registration %s is not one this helper wrote",
                         WideToAnsi(registrationFile).c_str());
    return Win32Result::Failed(ERROR_INVALID_DATA);
  }
  return ReplaceKey(HKEY_CURRENT_USER, std::wstring(kUninstallKey) + L"\\" + keyName, values, tag);
}

Win32Result PutBackLauncher(const std::wstring& runFolder, const std::wstring& environment,
                            const char* tag) {
  const std::optional<std::string> package = WideToAnsiExact(runFolder + kSavedPackageFileName);
  if (!package) return Win32Result::Failed(ERROR_NO_UNICODE_TRANSLATION);
  try {
    DWORD exitCode = STILL_ACTIVE;
    if (!RunMsiExec(BuildMsiInstallCommandLine(false, *package, kRestoreMsiLogName),
                    kMsiexecInstallWaitMs, environment, exitCode)) {
      return Win32Result::Failed(exitCode == STILL_ACTIVE ? ERROR_TIMEOUT : exitCode);
    }
    for (const DWORD success : kMsiSuccessCodes) {
      if (exitCode == success) return Win32Result::Ok();
    }
    return Win32Result::Failed(exitCode);
  } catch (const std::exception& error) {
    PrimitiveLogger::Log(tag, "msiexec cannot be run:  %s", error.what());
    return Win32Result::Failed(ERROR_FILE_NOT_FOUND);
  }
}
