// version.dll, msi.dll and crypt32.dll are not KnownDLLs: Windows takes a copy
// from a program's own folder before the system's, for its import table and
// for a LoadLibrary by bare name. Wine prefers its builtin DLLs and so hides
// a planted copy; these tests ask it for native DLLs first, and show with a
// control program that it then loads the planted copies.
//
// version.dll is left out of the checks of the helper and the probe: Wine's
// own user32 imports it, so with native first any program that uses user32
// loads a planted version.dll under Wine. Windows' user32 is a KnownDLL and
// does not; that the helper's import table no longer names version.dll is
// checked on the shipped PE by the shipped_binary test.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "logging/log_text.h"
#include "tests/support/stand_in_programs.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_load_order.h"

using namespace test_support;
using Names = std::vector<std::string>;

namespace {

const Names kPlanted = {"version.dll", "msi.dll", "crypt32.dll"};
const Names kPlantedButVersion = {"msi.dll", "crypt32.dll"};

constexpr char kNativeFirst[] = "native,builtin";
constexpr char kDisabled[] = "";

// What system components load by name for a program: the CryptoAPI
// provider that seeds the stack protector's guard at start-up (Wine's rsaenh
// imports crypt32), and the window code under the shell's progress dialog
// (uxtheme, for its theme).
const Names kLoadedForUs = {"crypt32.dll", "uxtheme.dll"};

constexpr char kLibraryProbe[] = "system_library_probe.exe";
constexpr char kProgressProbe[] = "progress_probe.exe";
constexpr char kControl[] = "planted_library_control.exe";

// A fresh folder holding the planted DLL under each library's name, and
// copies of the programs run from there.
class PlantedFolder {
 public:
  explicit PlantedFolder(Names names = kPlanted) : names_(std::move(names)) {}

  // Plants the libraries and checks that each copy is the planted DLL.
  void Plant() {
    const std::string source = TestProgramPath("planted_library.dll");
    const auto expected = ReadFileBytes(source);
    ASSERT_TRUE(expected && !expected->empty()) << source;
    for (const std::string& name : names_) {
      ASSERT_TRUE(CopyFileA(source.c_str(), Path(name).c_str(), TRUE)) << name;
      ASSERT_EQ(ReadFileBytes(Path(name)), expected) << name;
    }
    ASSERT_TRUE(Loaded().empty());
  }

  // Copies a program into the folder and returns the copy's path.
  std::string Copy(const std::string& program) {
    const std::string copy = Path(FileNamePart(program));
    EXPECT_TRUE(CopyFileA(program.c_str(), copy.c_str(), TRUE)) << program;
    return copy;
  }

  // Which of `names` some process has loaded (each copy leaves a marker).
  Names Loaded() const { return Loaded(names_); }
  Names Loaded(const Names& names) const {
    Names loaded;
    for (const std::string& name : names) {
      if (GetFileAttributesA(Marker(name).c_str()) != INVALID_FILE_ATTRIBUTES) {
        loaded.push_back(name);
      }
    }
    return loaded;
  }

  void ForgetLoads() {
    for (const std::string& name : names_) DeleteFileA(Marker(name).c_str());
  }

 private:
  std::string Path(const std::string& name) const { return dir_.path() + "\\" + name; }
  std::string Marker(const std::string& name) const { return Path(name) + ".loaded"; }

  Names names_;
  ScopedTempDir dir_;
};

// The probe, from `probePath`, reads a stand-in's version and checks a
// signed fixture.
LoggedRun RunLibraryProbe(const std::string& probePath) {
  return RunLogged(Quoted(probePath) + " " +
                   Quoted(StandInPath("KelvoSetupClient-22.7.3.0", "KelvoSetupClient.exe")) + " " +
                   Quoted(KitPath("fixtures\\signed_tessaly.exe")));
}

Names Twice(std::initializer_list<std::string> answers) {
  Names twice(answers);
  twice.insert(twice.end(), answers.begin(), answers.end());
  return twice;
}

}  // namespace

TEST(SystemLibraries, APlantedCopyBesideTheProgramIsNeverLoaded) {
  PlantedFolder folder;
  ASSERT_NO_FATAL_FAILURE(folder.Plant());

  // The control: a program that imports the three libraries gets the planted
  // copies, so this loader would show a program that reached for them.
  const ScopedLoadOrder controlOrder(kControl, kPlanted, kNativeFirst);
  ASSERT_TRUE(controlOrder.Holds(kNativeFirst));
  const ChildResult control = RunChild(Quoted(folder.Copy(TestProgramPath(kControl))));
  ASSERT_TRUE(control.finished);
  ASSERT_EQ(control.exitCode, 0u);
  ASSERT_EQ(folder.Loaded(), kPlanted);
  folder.ForgetLoads();
  ASSERT_TRUE(folder.Loaded().empty());

  // The helper's import table: nothing is loaded before its code runs.
  // "-elevateFor:" ends the run before any component is looked at.
  const ScopedLoadOrder helperOrder(FileNamePart(HelperExePath()), kPlantedButVersion,
                                    kNativeFirst);
  ASSERT_TRUE(helperOrder.Holds(kNativeFirst));
  const LoggedRun helper = RunHelperExe(folder.Copy(HelperExePath()), "-elevateFor: x");
  EXPECT_TRUE(helper.child.finished);
  EXPECT_EQ(helper.child.exitCode, 0u);
  EXPECT_EQ(folder.Loaded(kPlantedButVersion), Names());

  // The libraries loaded at run time come from the system folder: the calls
  // give the system's answers (a planted stub's would be 120) and load no
  // copy. 259: no more related products; 1605: unknown product.
  folder.ForgetLoads();
  const ScopedLoadOrder probeOrder(kLibraryProbe, kPlantedButVersion, kNativeFirst);
  ASSERT_TRUE(probeOrder.Holds(kNativeFirst));
  const LoggedRun probe = RunLibraryProbe(folder.Copy(TestProgramPath(kLibraryProbe)));
  ASSERT_TRUE(probe.child.finished);
  EXPECT_EQ(folder.Loaded(kPlantedButVersion), Names());
  // The probe's answers to its two rounds of calls.
  EXPECT_EQ(Messages(probe.log, "probe"),
            Twice({"version=[22.7.3] status=0", "related=259 info=1605", "signature=1"}));
}

TEST(SystemLibraries, ALibraryThatCannotBeLoadedFailsItsCallsAsTheCallsWould) {
  const ScopedLoadOrder disabled(kLibraryProbe, kPlantedButVersion, kDisabled);
  ASSERT_TRUE(disabled.Holds(kDisabled));
  const LoggedRun probe = RunLibraryProbe(TestProgramPath(kLibraryProbe));
  ASSERT_TRUE(probe.child.finished);
  ASSERT_EQ(probe.child.exitCode, 0u);

  // Each library is tried once per process, however often it is called;
  // 0x7e: the module was not found. The load by full path is only for a
  // system that rejects the search flag, so it is not tried after this.
  for (const auto& [tag, library] :
       {std::pair<std::string, std::string>{"LoadMsiLibrary", "msi.dll"},
        {"LoadCryptLibrary", "crypt32.dll"}}) {
    const std::string prefix = "(" + tag + ")  ";
    EXPECT_EQ(
        CountOf(probe.messages, prefix + "LoadLibraryEx(\"" + library + "\") failed, error: 0x7e"),
        1u);
    EXPECT_EQ(
        CountOf(probe.messages, prefix + "LoadLibrary(\"" + library + "\") failed, error: 0x7e"),
        0u);
  }
  // Every call then fails with the load's error, as a failing call would.
  EXPECT_EQ(
      CountOf(probe.messages,
              "(qvVerifySignature)  qvVerifySignature;  CryptQueryObject() failed, error: 0x7e"),
      2u);
  // The probe's answers to its two rounds of calls.
  EXPECT_EQ(Messages(probe.log, "probe"),
            Twice({"version=[22.7.3] status=0", "related=126 info=126", "signature=0"}));
}

// The DLL search is limited to the system folder before anything runs: what
// the shell dialog and CryptoAPI load by name for the helper is the
// system's, not a copy beside it. A program without the lock (the progress
// probe) shows that these copies would be loaded.
TEST(SystemLibraries, WhatSystemComponentsLoadByNameComesFromTheSystemFolder) {
  PlantedFolder folder(kLoadedForUs);
  ASSERT_NO_FATAL_FAILURE(folder.Plant());

  const ScopedLoadOrder controlOrder(kProgressProbe, kLoadedForUs, kNativeFirst);
  ASSERT_TRUE(controlOrder.Holds(kNativeFirst));
  const ChildResult control =
      RunChild(Quoted(folder.Copy(TestProgramPath(kProgressProbe))) + " two-quick");
  ASSERT_TRUE(control.finished);
  ASSERT_EQ(folder.Loaded(), kLoadedForUs) << "the copies would not be loaded anyway";
  folder.ForgetLoads();
  ASSERT_TRUE(folder.Loaded().empty());

  // "-elevateFor:" ends the run after the progress window is made.
  const ScopedLoadOrder helperOrder(FileNamePart(HelperExePath()), kLoadedForUs, kNativeFirst);
  ASSERT_TRUE(helperOrder.Holds(kNativeFirst));
  const LoggedRun helper = RunHelperExe(folder.Copy(HelperExePath()), "-elevateFor: x");
  EXPECT_TRUE(helper.child.finished);
  EXPECT_EQ(helper.child.exitCode, 0u);
  EXPECT_EQ(folder.Loaded(), Names());
  EXPECT_TRUE(helper.Has(
      "(LockDllSearchToSystemFolder)  DLLs loaded by name come from the system folder only"));
}
