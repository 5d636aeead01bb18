#include "tests/support/component_profile.h"

#include <msi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "logging/owners.h"
#include "system/ascii_text.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"

namespace test_support {

namespace {

constexpr char kLauncherUpgradeCode[] = "{2C81D0A4-5E3B-4F17-9A62-B0D4E71C38F5}";
constexpr char kMarkerValue[] = "PerUserCompsFixed";
constexpr char kKdcVersionValue[] = "KDCVersion";
constexpr char kVersionIniPath[] = "%ProgramFiles(x86)%\\Tessaly\\Kelvo\\TessalyVersion.ini";
const char* const kRunRecordValues[] = {"LastRunResult",        "LastRunTime",    "LastRunLog",
                                        "LastRunHelperVersion", "LastRunSummary", "LastRunOutcome",
                                        "LastRunVersions"};
constexpr DWORD kInstallerTimeoutMs = 120000;
// The client programs, and uninstallers a stopped run of the helper may
// have left behind (the setup client's and its copy of itself).
const char* const kClientPrograms[] = {"KelvoSetupClient.exe",
                                       "KelvoApplicationLauncher.exe",
                                       "QuarnelSetupClient.exe",
                                       "uninstall.exe",
                                       "Au_.exe",
                                       "UninstallSurvey.exe"};

void RemoveTree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(FsPath(path), error);
}

void DeleteValue(HKEY hive, REGSAM view, const char* valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(hive, kRemedionKey, 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, valueName);
  RegCloseKey(key);
}

}  // namespace

std::string SetupClientExePath(const std::string& company) {
  return ExpandedText("%APPDATA%\\" + company + "\\Setup Client\\KelvoSetupClient.exe");
}

std::string LauncherExePath() {
  return ExpandedText("%APPDATA%\\Tessaly\\KVAL\\KelvoApplicationLauncher.exe");
}

std::string MachineWideClientPath() {
  return ExpandedText("%COMMONPROGRAMFILES(x86)%\\Tessaly\\VexUI\\Kelvo.exe");
}

std::string VersionIniPath() { return ExpandedText(kVersionIniPath); }

std::string FileVersionOf(const std::string& path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return {};
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr) {
    return {};
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionLS));
}

std::vector<std::string> RelatedProducts(const std::string& upgradeCode) {
  std::vector<std::string> codes;
  char code[40] = {};
  for (DWORD index = 0;
       MsiEnumRelatedProductsA(upgradeCode.c_str(), 0, index, code) == ERROR_SUCCESS; ++index) {
    codes.push_back(code);
  }
  return codes;
}

std::vector<std::string> InstalledLauncherProducts() {
  return RelatedProducts(kLauncherUpgradeCode);
}

std::string ProductVersion(const std::string& productCode) {
  char version[64] = {};
  DWORD size = sizeof(version);
  if (MsiGetProductInfoA(productCode.c_str(), "VersionString", version, &size) != ERROR_SUCCESS) {
    return {};
  }
  return version;
}

namespace {

template <typename Matches>
std::vector<DWORD> RunningProcessesWhere(Matches matches) {
  std::vector<DWORD> ids;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (matches(entry.szExeFile)) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

}  // namespace

std::vector<DWORD> RunningProcessesNamed(const std::string& exeName) {
  return RunningProcessesWhere(
      [&exeName](const char* name) { return EqualsIgnoringAsciiCase(name, exeName.c_str()); });
}

std::vector<DWORD> RunningProcessesNamedLike(const std::string& prefix) {
  return RunningProcessesWhere(
      [&prefix](const char* name) { return _strnicmp(name, prefix.c_str(), prefix.size()) == 0; });
}

DWORD RunSetupProgram(const std::string& path) {
  const ChildResult run = RunChild("\"" + path + "\" /S", {}, kInstallerTimeoutMs);
  return run.finished ? run.exitCode : ~0u;
}

DWORD RunMsiexec(const std::string& arguments) {
  const ChildResult run = RunChild("msiexec.exe " + arguments, {}, kInstallerTimeoutMs);
  return run.finished ? run.exitCode : ~0u;
}

void InstallCurrentComponents() {
  if (RunSetupProgram(KitPath("TYSetupClientInstaller.exe")) != 0 ||
      RunMsiexec("/i \"" + KitPath("TessalyAppLauncher.msi") + "\" /qn") != 0) {
    throw std::runtime_error("installing the current components failed");
  }
}

void InstallOutdatedComponents() {
  if (RunSetupProgram(KitPath("old\\TYSetupClientInstaller_22.7.1_Tessaly.exe")) != 0 ||
      RunSetupProgram(KitPath("old\\TYSetupClientInstaller_22.7.1_Quarnel.exe")) != 0 ||
      RunMsiexec("/i \"" + KitPath("old\\TessalyAppLauncher_22.7.1.msi") + "\" /qn") != 0) {
    throw std::runtime_error("installing the outdated components failed");
  }
}

bool IsCompletionMarked() {
  char value[16] = {};
  DWORD size = sizeof(value);
  return RegGetValueA(HKEY_CURRENT_USER, kRemedionKey, kMarkerValue, RRF_RT_REG_SZ, nullptr, value,
                      &size) == ERROR_SUCCESS &&
         std::string(value) == "True";
}

void SetCompletionMarker() {
  if (!SetRegistryText(HKEY_CURRENT_USER, kRemedionKey, kMarkerValue, "True")) {
    throw std::runtime_error("cannot set the marker");
  }
}

void SetRequiredDesktopClientVersion(const std::optional<std::string>& version) {
  DeleteValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kKdcVersionValue);
  if (version && !SetRegistryText(HKEY_LOCAL_MACHINE, kRemedionKey, kKdcVersionValue, *version,
                                  KEY_WOW64_32KEY)) {
    throw std::runtime_error("cannot set " + std::string(kKdcVersionValue));
  }
}

void SetInstalledDesktopClientVersion(const std::optional<std::string>& version) {
  const std::string ini = VersionIniPath();
  DeleteFileA(ini.c_str());
  if (!version) return;
  std::filesystem::create_directories(FsPath(ini).parent_path());
  if (!WriteFileBytes(ini, "[Tessaly]\r\nDisplayVersion=" + *version + "\r\n")) {
    throw std::runtime_error("cannot write " + ini);
  }
}

std::optional<std::string> RunRecordValue(const std::string& name) {
  char value[1024] = {};
  DWORD size = sizeof(value);
  if (RegGetValueA(HKEY_CURRENT_USER, kRemedionKey, name.c_str(), RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(value);
}

void ClearRunRecord() {
  for (const char* value : kRunRecordValues) DeleteValue(HKEY_CURRENT_USER, 0, value);
}

std::optional<long long> SecondsSinceUtc(const std::string& utcText) {
  SYSTEMTIME time = {};
  FILETIME then = {};
  if (sscanf(utcText.c_str(), "%4hu-%2hu-%2hu %2hu:%2hu:%2hu", &time.wYear, &time.wMonth,
             &time.wDay, &time.wHour, &time.wMinute, &time.wSecond) != 6 ||
      !SystemTimeToFileTime(&time, &then)) {
    return std::nullopt;
  }
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return (ticks(now) - ticks(then)) / 10000000;
}

void ResetProfile() {
  for (const char* program : kClientPrograms) {
    for (DWORD pid : RunningProcessesNamed(program)) KillProcess(pid);
  }
  // A setup program a stopped run of the helper started, still holding its
  // staged file.
  for (DWORD pid : RunningProcessesNamedLike("KSC")) KillProcess(pid);
  for (const std::string& code : InstalledLauncherProducts()) RunMsiexec("/x " + code + " /qn");
  RemoveTree(ExpandedText("%APPDATA%\\Tessaly"));
  RemoveTree(ExpandedText("%APPDATA%\\Quarnel Networks"));
  DeleteValue(HKEY_CURRENT_USER, 0, kMarkerValue);
  ClearRunRecord();
  SetRequiredDesktopClientVersion(std::nullopt);
  SetInstalledDesktopClientVersion(std::nullopt);
  DeleteFileA(MachineWideClientPath().c_str());
  // The launcher's Windows Installer logs, which msiexec appends to.
  DeleteFileA(ExpandedText("%Public%\\Tessaly\\Logging\\KVAL.log").c_str());
  DeleteFileA(ExpandedText("%Public%\\Tessaly\\Logging\\KVAL_Restore.log").c_str());
  // The setup client's registrations in Programs and Features, and what
  // runs of the helper that were stopped left.
  for (const char* company : {"Tessaly", "Quarnel Networks"}) {
    RegDeleteTreeA(HKEY_CURRENT_USER,
                   (std::string(kSetupClientRegistrationKey) + " (" + company + ")").c_str());
  }
  RemoveTree(ExpandedText("%LOCALAPPDATA%\\Tessaly\\Restore"));
  // Installers a stopped run staged in the temporary folder.
  for (const char* pattern : {"\\KSC*.exe", "\\KSL*.msi"}) {
    const std::string temp = ExpandedText("%TEMP%");
    WIN32_FIND_DATAA entry = {};
    const HANDLE find = FindFirstFileA((temp + pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      DeleteFileA((temp + "\\" + entry.cFileName).c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveTree(ExpandedText("%LOCALAPPDATA%\\Tessaly\\Staging"));
}

}  // namespace test_support
