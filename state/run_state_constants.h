#pragma once

#include <cstdint>

namespace run_state_constants {

constexpr char kZarOption[] = "-zar:";
constexpr char kElevateForOption[] = "-elevateFor:";
constexpr char kMsiInteractiveOption[] = "-msiInteractive:";
constexpr char kForceReRunOption[] = "-forceReRun:";
constexpr char kKuhMsiProdCodeOption[] = "-kuhMSIProdCode:";
constexpr char kFixMachineWideOption[] = "-fixMachineWide:";

constexpr char kTrueText[] = "True";
constexpr int32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

constexpr uint32_t kLauncherUpgradeBit = 0x200;
constexpr uint32_t kSetupClientUpgradeBit = 0x400;
constexpr uint32_t kBothUpgradeBits = kLauncherUpgradeBit | kSetupClientUpgradeBit;

constexpr char kNameListSeparator[] = ", ";

}  // namespace run_state_constants
