#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/config_driven_state.h"
#include "state/machine_probes.h"

namespace {

ConfigDrivenState Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "C:\\x\\OrvaneUpgradeHelper.exe");
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return ConfigDrivenState::ParseCLArgs(static_cast<int>(arguments.size()), argv.data());
}

}  // namespace

TEST(ParseCLArgs, NoArgumentsKeepsTheInitialFlags) {
  const ConfigDrivenState state = Parse({});
  EXPECT_EQ(state.ArgsParseResult, 0);
  EXPECT_FALSE(state.msiInteractive);
  EXPECT_FALSE(state.forceReRun);
  EXPECT_TRUE(state.fixMachineWide);
  EXPECT_TRUE(state.kuhMSIProdCodeArg.empty());
  EXPECT_FALSE(state.RunningFrom.empty());
  EXPECT_EQ(state.upgradeRequiredMask, 0u);
}

TEST(ParseCLArgs, OptionWordsIgnoreCaseValuesAreVerbatimAndTheLastWins) {
  const ConfigDrivenState state =
      Parse({"-MSIINTERACTIVE:", "tRuE", "-kuhMSIProdCode:", "{AB-cd}", "-zar:", "first",
             "-ZAR:", " Second value ", "-forceReRun:", "TRUE"});
  EXPECT_EQ(state.ArgsParseResult, 0);
  EXPECT_TRUE(state.msiInteractive);
  EXPECT_EQ(state.msiInteractiveArg, "tRuE");
  EXPECT_TRUE(state.forceReRun);
  EXPECT_EQ(state.kuhMSIProdCodeArg, "{AB-cd}");
  EXPECT_EQ(state.zarArg, " Second value ");
  // Another option was given, so "-fixMachineWide:" counts as absent: false.
  EXPECT_FALSE(state.fixMachineWide);
}

TEST(ParseCLArgs, OnlyTrueInAnyCaseSetsAFlag) {
  for (const char* value : {"true", "TRUE", "True"}) {
    EXPECT_TRUE(Parse({"-msiInteractive:", value}).msiInteractive) << value;
  }
  for (const char* value : {"yes", "1", "", "True ", "Truee"}) {
    EXPECT_FALSE(Parse({"-msiInteractive:", value}).msiInteractive) << value;
  }
  EXPECT_TRUE(Parse({"-fixMachineWide:", "true"}).fixMachineWide);
}

TEST(ParseCLArgs, IncompleteOrUnknownWordsAbortButKeepEarlierValues) {
  const ConfigDrivenState incomplete = Parse({"-zar:"});
  EXPECT_EQ(incomplete.ArgsParseResult, 87);
  EXPECT_TRUE(incomplete.zarArg.empty());

  // The second option word is taken as the value of the first.
  const ConfigDrivenState swallowed = Parse({"-zar:", "-forceReRun:"});
  EXPECT_EQ(swallowed.ArgsParseResult, 0);
  EXPECT_EQ(swallowed.zarArg, "-forceReRun:");
  EXPECT_FALSE(swallowed.forceReRun);

  const ConfigDrivenState unknownFirst = Parse({"-bogus", "-zar:", "value"});
  EXPECT_EQ(unknownFirst.ArgsParseResult, 87);
  EXPECT_TRUE(unknownFirst.zarArg.empty());

  // Flags are still derived from what was stored before the abort.
  const ConfigDrivenState abortedLater =
      Parse({"-forceReRun:", "True", "-elevateFor:", "x", "-nope", "v", "-zar:", "z"});
  EXPECT_EQ(abortedLater.ArgsParseResult, 87);
  EXPECT_TRUE(abortedLater.forceReRun);
  EXPECT_EQ(abortedLater.elevateForArg, "x");
  EXPECT_TRUE(abortedLater.zarArg.empty());
  EXPECT_FALSE(abortedLater.fixMachineWide);
}

TEST(AppendUniqueToList, AddsNewNamesOnceAndSkipsSubstrings) {
  std::string list;
  AppendUniqueToList(list, "KVAL");
  EXPECT_EQ(list, "KVAL");
  AppendUniqueToList(list, "Setup Client");
  EXPECT_EQ(list, "KVAL, Setup Client");
  AppendUniqueToList(list, "Setup Client");
  AppendUniqueToList(list, "Setup");
  AppendUniqueToList(list, "");
  EXPECT_EQ(list, "KVAL, Setup Client");
  AppendUniqueToList(list, "kval");  // case-sensitive
  EXPECT_EQ(list, "KVAL, Setup Client, kval");

  std::string empty;
  AppendUniqueToList(empty, "");
  EXPECT_EQ(empty, "");
}

// The masks the version check forms: each bit names its component.
TEST(UpgradeQueries, EachBitNamesItsComponent) {
  ConfigDrivenState state = Parse({});
  const struct {
    uint32_t mask;
    bool launcher;
    bool setupClient;
  } cases[] = {{0, false, false}, {0x200, true, false}, {0x400, false, true}, {0x600, true, true}};
  for (const auto& c : cases) {
    state.upgradeRequiredMask = c.mask;
    EXPECT_EQ(state.IsLauncherUpgradeRequired(), c.launcher) << std::hex << c.mask;
    EXPECT_EQ(state.IsSetupClientUpgradeRequired(), c.setupClient) << std::hex << c.mask;
  }
}

TEST(IntegrityLevel, MapsRidRangesAndIsHighUnderThisPrefix) {
  EXPECT_EQ(IntegrityLevelFromRid(0x0000), 0);
  EXPECT_EQ(IntegrityLevelFromRid(0x0FFF), 0);
  EXPECT_EQ(IntegrityLevelFromRid(0x1000), 1);
  EXPECT_EQ(IntegrityLevelFromRid(0x2000), 2);
  EXPECT_EQ(IntegrityLevelFromRid(0x2100), 2);
  EXPECT_EQ(IntegrityLevelFromRid(0x3000), 3);
  EXPECT_EQ(IntegrityLevelFromRid(0x4000), 4);
  EXPECT_EQ(IntegrityLevelFromRid(0x4FFF), 4);
  EXPECT_EQ(IntegrityLevelFromRid(0x5000), 5);
  EXPECT_EQ(IntegrityLevelFromRid(0xFFFFFFFF), 5);

  // Wine gives every process a high-integrity token.
  EXPECT_EQ(GetCurrentProcessIntegrityLevel(), 3);
  const ConfigDrivenState state = Parse({});
  EXPECT_FALSE(state.IsUserLocalSystem);
  EXPECT_TRUE(state.Is64BitOS);
}

TEST(Is64BitOS, IgnoresALastErrorLeftByAnEarlierCall) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_TRUE(ProbeIs64BitOS());
}
