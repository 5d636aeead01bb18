// The run state: the record every pass reads and fills in, with the fields
// the run's log dump shows — the command line's switches, the machine
// probes, the progress window, the upgrade mask, and the counters and name
// lists of what was stopped, removed and installed. What the run owns
// besides (its staged installers, wait limits, staging and restore folders,
// install reports, the versions it read) is its RemediationRun. One of each
// per run, on the run driver's stack; nothing of either is process-wide.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QVProgressMessageBox;

class ConfigDrivenState {
 public:
  explicit ConfigDrivenState(std::string runningFrom);
  ~ConfigDrivenState();

  ConfigDrivenState(ConfigDrivenState&&) noexcept;
  ConfigDrivenState& operator=(ConfigDrivenState&&) = delete;
  ConfigDrivenState(const ConfigDrivenState&) = delete;
  ConfigDrivenState& operator=(const ConfigDrivenState&) = delete;

  // Builds the run state from the program's arguments (program path first).
  // Never fails: a bad command line ends up in ArgsParseResult and the log.
  static ConfigDrivenState ParseCLArgs(int argc, char* argv[]);

  void DumpToLog() const;

  // Hands a stage text to the progress window, when the run has one.
  void SendProgressUpdate(const std::wstring& text);

  bool IsLauncherUpgradeRequired() const;
  bool IsSetupClientUpgradeRequired() const;

  bool Is64BitOS;
  bool IsUserAdmin;
  bool IsUserLocalSystem;
  std::string RunningFrom;
  bool kdcUpgradeNeeded = false;
  uint32_t upgradeRequiredMask = 0;
  std::unique_ptr<QVProgressMessageBox> ProgressBox;
  int32_t ArgsParseResult = 0;
  std::string zarArg;
  std::string elevateForArg;
  std::string msiInteractiveArg;
  bool msiInteractive = false;
  std::string forceReRunArg;
  bool forceReRun = false;
  std::string fixMachineWideArg;
  bool fixMachineWide = true;
  std::string kuhMSIProdCodeArg;
  uint32_t ActiveXDetected = 0;
  uint32_t ActiveXReplaced = 0;
  uint32_t IEProcessCount = 0;
  std::string ProcessesKilledList;
  uint32_t ProcessesKilled = 0;
  std::string AppsInstalledList;
  uint32_t AppsInstalled = 0;
  std::string AppsUnInstalledList;
  uint32_t AppsUnInstalled = 0;
};

// Adds `name` to a ", "-separated name list unless it is empty or already
// occurs in the list (as a case-sensitive substring).
void AppendUniqueToList(std::string& list, const std::string& name);
