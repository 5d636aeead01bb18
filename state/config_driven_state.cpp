#include "state/config_driven_state.h"

#include <stdexcept>
#include <utility>

#include "logging/log_text.h"
#include "logging/primitive_logger.h"
#include "progress/progress_constants.h"
#include "progress/qv_progress_message_box.h"
#include "state/machine_probes.h"
#include "state/run_state_constants.h"
#include "system/ascii_text.h"

using namespace run_state_constants;

namespace {

constexpr char kParseTag[] = "ConfigDrivenState::ParseCLArgs";

// The text field an option word stores its value in, or null for a word that
// is not an option.
std::string* OptionField(ConfigDrivenState& state, const std::string& word) {
  const std::pair<const char*, std::string*> options[] = {
      {kZarOption, &state.zarArg},
      {kElevateForOption, &state.elevateForArg},
      {kMsiInteractiveOption, &state.msiInteractiveArg},
      {kForceReRunOption, &state.forceReRunArg},
      {kKuhMsiProdCodeOption, &state.kuhMSIProdCodeArg},
      {kFixMachineWideOption, &state.fixMachineWideArg},
  };
  for (const auto& option : options) {
    if (EqualsIgnoringAsciiCase(word, option.first)) return option.second;
  }
  return nullptr;
}

}  // namespace

ConfigDrivenState::ConfigDrivenState(std::string runningFrom)
    : Is64BitOS(ProbeIs64BitOS()),
      IsUserAdmin(ProbeIsUserAdmin()),
      IsUserLocalSystem(GetCurrentProcessIntegrityLevel() >= 4),
      RunningFrom(std::move(runningFrom)) {
  try {
    ProgressBox = std::make_unique<QVProgressMessageBox>(progress_constants::kTitle,
                                                         progress_constants::kStartingMessage,
                                                         progress_constants::kNumberOfStates);
  } catch (const std::runtime_error& error) {
    PrimitiveLogger::Log("ConfigDrivenState::ConfigDrivenState", "Exception occured: %s",
                         error.what());
  }
}

ConfigDrivenState::~ConfigDrivenState() = default;
ConfigDrivenState::ConfigDrivenState(ConfigDrivenState&&) noexcept = default;

ConfigDrivenState ConfigDrivenState::ParseCLArgs(int argc, char* argv[]) {
  PrimitiveLogger::Log(kParseTag, ">>>  ; ArgCount = %d", argc);
  ConfigDrivenState state(GetModulePath());
  state.ArgsParseResult = 0;

  if (argc < 2) {
    PrimitiveLogger::Log(kParseTag, "<<<  ; No ParseCLArgs to parse; Returning ERROR_SUCCESS");
  } else {
    int index = 1;
    do {
      const std::string word = argv[index];
      std::string* field = OptionField(state, word);
      if (field == nullptr || index + 1 >= argc) {
        PrimitiveLogger::Log(kParseTag,
                             "Unrecognized / Incomplete arg %s (at %d); Aborting CL Parsing now",
                             word.c_str(), index + 1);
        state.ArgsParseResult = kInvalidParameter;
        break;
      }
      *field = argv[index + 1];
      index += 2;
    } while (index < argc);

    state.msiInteractive = EqualsIgnoringAsciiCase(state.msiInteractiveArg, kTrueText);
    state.forceReRun = EqualsIgnoringAsciiCase(state.forceReRunArg, kTrueText);
    state.fixMachineWide = EqualsIgnoringAsciiCase(state.fixMachineWideArg, kTrueText);
  }

  PrimitiveLogger::Log(kParseTag, "<<<  ; Returning %ld", static_cast<long>(state.ArgsParseResult));
  state.DumpToLog();
  return state;
}

void ConfigDrivenState::DumpToLog() const {
  std::string text = "ConfigDrivenState - Current state:\n";
  auto line = [&text](const std::string& label, const std::string& value) {
    text += label + value + "\n";
  };
  line("Running from:  ", RunningFrom);
  line("ArgsParseResult: ", std::to_string(ArgsParseResult));
  line("64BitOS:  ", BoolText(Is64BitOS));
  line("IsUserAdmin: ", BoolText(IsUserAdmin));
  line("IsUserLocalSystem: ", BoolText(IsUserLocalSystem));
  if (!zarArg.empty()) line(std::string(kZarOption) + " ", zarArg);
  if (!elevateForArg.empty()) line(std::string(kElevateForOption) + " ", elevateForArg);
  line(std::string(kMsiInteractiveOption) + " ", BoolText(msiInteractive));
  line(std::string(kForceReRunOption) + " ", BoolText(forceReRun));
  line(std::string(kFixMachineWideOption) + " ", BoolText(fixMachineWide));
  line(std::string(kKuhMsiProdCodeOption) + " ", kuhMSIProdCodeArg);
  line("ActiveXDetected: ", std::to_string(ActiveXDetected));
  line("ActiveXReplaced: ", std::to_string(ActiveXReplaced));
  line("IEProcessCount: ", std::to_string(IEProcessCount));
  line("ProcessesKilled: ", std::to_string(ProcessesKilled));
  line("", ProcessesKilledList);
  line("AppsUnInstalled: ", std::to_string(AppsUnInstalled));
  line("", AppsUnInstalledList);
  line("AppsInstalled: ", std::to_string(AppsInstalled));
  line("", AppsInstalledList);
  PrimitiveLogger::Log("ConfigDrivenState::DumpToLog", "%s", text.c_str());
}

void ConfigDrivenState::SendProgressUpdate(const std::wstring& text) {
  if (ProgressBox) ProgressBox->sendUpdate(text);
}

bool ConfigDrivenState::IsLauncherUpgradeRequired() const {
  return upgradeRequiredMask == kLauncherUpgradeBit || upgradeRequiredMask == kBothUpgradeBits;
}

bool ConfigDrivenState::IsSetupClientUpgradeRequired() const {
  return upgradeRequiredMask == kSetupClientUpgradeBit || upgradeRequiredMask == kBothUpgradeBits;
}

void AppendUniqueToList(std::string& list, const std::string& name) {
  if (list.empty()) {
    list = name;
    return;
  }
  if (name.empty() || list.find(name) != std::string::npos) return;
  list += kNameListSeparator;
  list += name;
}
