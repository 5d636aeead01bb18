// Names, places, arguments and limits of the per-user components' removal
// and installation.
#pragma once

#include <windows.h>

#include <cstddef>

namespace component_constants {

// The application launcher (KVAL), a per-user Windows Installer product.
constexpr char kLauncherUpgradeCode[] = "{2C81D0A4-5E3B-4F17-9A62-B0D4E71C38F5}";
constexpr char kLauncherProductName[] = "Kelvo Application Launcher";
constexpr char kProductNameProperty[] = "ProductName";
constexpr char kLauncherLabel[] = "KVAL";
// The setup client as the version checks and the run's outcome name it.
constexpr char kSetupClientLabel[] = "KSC";
// A braced GUID (38 characters) and its NUL fit.
constexpr size_t kProductCodeBufferSize = 40;
constexpr DWORD kProductNameBufferSize = 260;

// The setup client (KSC), installed under the roaming application-data
// folder by its setup program and removed with its own uninstaller.
constexpr char kSetupClientProduct[] = "Setup Client";
constexpr char kTessalyCompany[] = "Tessaly";
constexpr char kQuarnelCompany[] = "Quarnel Networks";
constexpr char kUninstallerFileName[] = "uninstall.exe";
// The uninstaller's job object: this prefix and the moment it is made, in
// milliseconds since 1970.
constexpr char kJobNamePrefix[] = "Local\\Remedion_";
// The setup programs' silent switch, passed as the whole argument string.
constexpr char kSilentSwitch[] = " /S";

// How long a setup program, an uninstaller started directly or msiexec's
// removal may run before its outcome counts as unknown.
constexpr DWORD kChildWaitMs = 10000;
// An uninstaller started in a job is waited for until every process of the
// job has ended, but no longer than this: the real uninstallers finish in
// seconds, and a program one of them leaves running (a browser, a stuck copy
// of itself) must not hold up the run for ever.
constexpr DWORD kUninstallerJobWaitMs = 3 * 60 * 1000;
// The launcher's install: generous, for slow machines, but not without end.
constexpr DWORD kMsiexecInstallWaitMs = 20 * 60 * 1000;

// Exit codes of a successful msiexec install: done, done with a restart
// required, done with a restart required of the installer itself.
constexpr DWORD kMsiSuccessCodes[] = {ERROR_SUCCESS, ERROR_SUCCESS_REBOOT_REQUIRED,
                                      ERROR_SUCCESS_RESTART_REQUIRED};  // 0, 3010, 3011
// The only exit code that counts for a setup program or an uninstaller.
constexpr DWORD kSetupSuccessCode = ERROR_SUCCESS;

// The Windows Installer runs one installation at a time; the one running
// holds this mutex, and msiexec started meanwhile ends with 1618.
constexpr char kInstallerMutexName[] = "Global\\_MSIExecute";
constexpr DWORD kInstallerBusyLimitMs = 10 * 60 * 1000;
constexpr DWORD kInstallerBusyRetryMs = 5000;
constexpr DWORD kMsiExitInstallerBusy = ERROR_INSTALL_ALREADY_RUNNING;  // 1618
// msiexec could not open the log its /L switch names.
constexpr DWORD kMsiExitLogFailure = ERROR_INSTALL_LOG_FAILURE;  // 1622

// Room the installers need in the temporary folder before anything is
// removed: each staged installer may take this many times its size there
// (the setup program unpacks its archive, msiexec copies the database), and
// the margin covers the uninstallers' copies of themselves and msiexec's
// own files.
constexpr ULONGLONG kInstallerUnpackFactor = 3;
constexpr ULONGLONG kInstallerRoomMarginBytes = 16ull * 1024 * 1024;

// Temporary installer names.
constexpr char kSetupClientTempPrefix[] = "KSC";
constexpr char kSetupClientTempExtension[] = "exe";
constexpr char kLauncherTempPrefix[] = "KSL";
constexpr char kLauncherTempExtension[] = "msi";
// Where the installers are staged when the user's temporary folder cannot
// take them, below the local application-data folder.
constexpr char kPrivateStagingFolder[] = "Tessaly\\Staging";

// Restore points: what it takes to put back a component this run removes,
// kept until the run ends in a private folder of the run's own below the
// local application-data folder, with the run's journal and a lock file
// that the run holds open for as long as it lives.
constexpr wchar_t kRestoreRoot[] = L"Tessaly\\Restore";
constexpr wchar_t kJournalFileName[] = L"journal.txt";
constexpr wchar_t kRunLockFileName[] = L"run.lock";
constexpr wchar_t kSavedRegistrationFileName[] = L"registration.bin";
constexpr wchar_t kSavedFilesFolderName[] = L"files";
constexpr wchar_t kSavedPackageFileName[] = L"launcher.msi";
// A journal is a few hundred bytes; anything far larger is not one of ours.
constexpr DWORD kJournalLimitBytes = 64 * 1024;
constexpr DWORD kSavedRegistrationLimitBytes = 1024 * 1024;
// Where per-user programs register for Programs and Features.
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kUninstallStringValue[] = L"UninstallString";
// The launcher's cached package and version, as Windows Installer keeps them.
constexpr char kLocalPackageProperty[] = "LocalPackage";
constexpr char kVersionStringProperty[] = "VersionString";
// msiexec's log of a launcher put back from its restore point.
constexpr char kRestoreMsiLogName[] = "KVAL_Restore";
// The setup client's program in its folder, read for its version.
constexpr char kSetupClientExeName[] = "KelvoSetupClient.exe";

// The machine-wide client's user interface; where it is present, the setup
// client of the older release is installed.
constexpr char kMachineWideClientPath[] = "%COMMONPROGRAMFILES(x86)%\\Tessaly\\VexUI\\Kelvo.exe";
constexpr size_t kExpandedPathBufferSize = 260;  // MAX_PATH

// The signer names an installer the helper runs may carry, in the order
// they are tried.
constexpr char kSignerTessaly[] = "Tessaly, LLC";
constexpr char kSignerQuarnel[] = "Quarnel Networks, Inc.";
constexpr char kSignerOrvane[] = "Orvane, Inc.";

// Progress texts.
constexpr wchar_t kUninstallingSetupClientText[] = L"Uninstalling Setup Client...";
constexpr wchar_t kUninstallingLauncherText[] = L"Uninstalling KVAL...";
constexpr wchar_t kInstallingSetupClientText[] = L"Installing Setup Client...";
constexpr wchar_t kInstallingLauncherText[] = L"Installing KVAL...";

}  // namespace component_constants
