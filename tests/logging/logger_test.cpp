#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>

#include "logging/log_text.h"
#include "tests/support/component_profile.h"
#include "tests/support/test_support.h"

using namespace test_support;

namespace {

// Runs the probe after `plant` has prepared the file its log will go to.
LoggedRun RunLoggerProbe(const std::string& mode,
                         const std::function<void(const std::string& logPath)>& plant = {}) {
  return RunProbe("logger_probe.exe", mode, plant);
}

std::string PrefixPattern(const std::string& tag) {
  return R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} UTC[+-]\d{4}\]  \[[^\]]+\]  \[logger_probe\.exe\]  p\d+  \()" +
         std::regex_replace(tag, std::regex(R"([()\[\].:*+?])"), R"(\$&)") + R"(\)  )";
}

// %LOCALAPPDATA% in a folder of the test's own: the per-user log's folders
// go with it.
struct ScopedPerUserFolder {
  ScopedTempDir folder;
  ScopedEnvVar variable{"LOCALAPPDATA", folder.path().c_str()};
};

// A probe run whose public log failed with `failure` writes the per-user
// log: the start banner, then why the log is there; GetLogFilePath names it.
void ExpectPerUserLog(const LoggedRun& run, const std::string& failure) {
  const std::string perUserPath = PerUserLogPathForPid(run.child.pid);
  EXPECT_EQ(run.logPath, perUserPath);
  const std::vector<std::string> records = TaggedMessages(run.log);
  ASSERT_GE(records.size(), 3u) << run.log;
  EXPECT_EQ(records[0].rfind("(PL.Ctor)  ===Tessaly Remedion Launched at ", 0), 0u) << records[0];
  const std::string tag = "(PrimitiveLogger::EnableLogToFile)  ";
  EXPECT_EQ(records[1], tag + failure);
  EXPECT_EQ(records[2], tag + "Log written to the per-user folder instead:  " + perUserPath);
  EXPECT_TRUE(run.Has("(probe::path)  " + perUserPath)) << "GetLogFilePath names another file";
}

}  // namespace

TEST(Logger, WritesBannersLinesAndCutsLongMessages) {
  const LoggedRun run = RunLoggerProbe("lines");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  const auto lines = SplitCrLfLines(run.log);
  ASSERT_GE(lines.size(), 12u);

  const std::string pid = "p" + std::to_string(run.child.pid) + "  ";
  // Start banner, then the empty line its own "\n" makes.
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex(PrefixPattern("PL.Ctor") + R"(===Tessaly Remedion Launched at \d+ ticks===)")))
      << lines[0];
  EXPECT_NE(lines[0].find(pid), std::string::npos);
  EXPECT_EQ(lines[1], "");

  // A multi-line message: one prefixed line, then bare continuation lines.
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(PrefixPattern("probe::lines") + "first line")))
      << lines[2];
  EXPECT_EQ(lines[3], "second line");
  EXPECT_EQ(lines[4], "third line");
  EXPECT_TRUE(std::regex_match(
      lines[5], std::regex(PrefixPattern("probe::lines") + "numbers 7 12345678901 -3")))
      << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(PrefixPattern("probe::lines") + "wide text")));

  // 8191 characters of message survive; the rest is cut, the run goes on.
  EXPECT_TRUE(std::regex_match(lines[7], std::regex(PrefixPattern("probe::long") + "x{8191}")))
      << lines[7].size();
  EXPECT_TRUE(std::regex_match(lines[8], std::regex(PrefixPattern("probe::lines") + "after long")));

  // Exit banner, then two empty lines; nothing after the teardown.
  EXPECT_TRUE(std::regex_match(
      lines[9],
      std::regex(PrefixPattern("PL.Dtor") + R"(===Tessaly Remedion Exiting at \d+ ticks===)")));
  EXPECT_EQ(lines[10], "");
  EXPECT_EQ(lines[11], "");
  EXPECT_EQ(lines.size(), 12u);
  EXPECT_FALSE(run.LogHolds("after the teardown"));
}

TEST(Logger, AppendsToAnOrdinaryFileAndRefusesAHardLink) {
  ScopedTempDir temp;

  // An earlier process's file of the same name is appended to, not truncated.
  const LoggedRun appended = RunLoggerProbe("lines", [](const std::string& logPath) {
    WriteFileBytes(logPath, "line of an earlier run\r\n");
  });
  ASSERT_TRUE(appended.child.finished);
  EXPECT_EQ(appended.log.rfind("line of an earlier run\r\n[", 0), 0u);
  EXPECT_TRUE(appended.LogHolds("Exiting at"));

  // A hard link planted under the log name would redirect the writes to
  // another file: it is refused, the file is untouched, and the log goes to
  // the per-user folder.
  ScopedPerUserFolder perUser;
  const std::string victim = temp.path() + "\\victim.txt";
  ASSERT_TRUE(WriteFileBytes(victim, "victim"));
  DWORD names = 0;
  const LoggedRun linked = RunLoggerProbe("path", [&](const std::string& logPath) {
    CreateHardLinkA(logPath.c_str(), victim.c_str(), nullptr);
    names = LinkCount(victim);
  });
  ASSERT_EQ(names, 2u) << "no hard link planted";
  ASSERT_TRUE(linked.child.finished);
  EXPECT_EQ(linked.child.exitCode, 0u);
  EXPECT_EQ(ReadFileBytes(victim).value_or(""), "victim");
  ExpectPerUserLog(linked, "Failed to open log file (13) at:  " + LogPathForPid(linked.child.pid));

  // The per-user log is under the same checks: with a link there as well,
  // the run goes on without a log.
  const std::string perUserFolder = perUser.folder.path() + "\\Tessaly\\Logging\\";
  const LoggedRun bothLinked = RunLoggerProbe("path", [&](const std::string& logPath) {
    CreateHardLinkA(logPath.c_str(), victim.c_str(), nullptr);
    CreateHardLinkA((perUserFolder + FileNamePart(logPath)).c_str(), victim.c_str(), nullptr);
    names = LinkCount(victim);
  });
  ASSERT_EQ(names, 3u) << "the hard links were not both planted";
  ASSERT_TRUE(bothLinked.child.finished);
  EXPECT_EQ(bothLinked.child.exitCode, 3u) << "a log file is named";
  EXPECT_EQ(ReadFileBytes(victim).value_or(""), "victim");
}

TEST(Logger, RefusesASymbolicLinkAtTheLogName) {
  // The same as for a hard link, with a victim of its own. Wine's
  // CreateSymbolicLinkA reports success but writes a plain empty file: the
  // refusal is judged only where a reparse point was really planted.
  ScopedTempDir temp;
  const std::string symlinkVictim = temp.path() + "\\symlink-victim.txt";
  ASSERT_TRUE(WriteFileBytes(symlinkVictim, "symlink victim"));
  bool symlinkPlanted = false;
  const LoggedRun symlinked = RunLoggerProbe("lines", [&](const std::string& logPath) {
    if (!CreateSymbolicLinkA(logPath.c_str(), symlinkVictim.c_str(), 0)) return;
    const DWORD attributes = GetFileAttributesA(logPath.c_str());
    symlinkPlanted =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  });
  ASSERT_TRUE(symlinked.child.finished);
  EXPECT_EQ(symlinked.child.exitCode, 0u);
  if (!symlinkPlanted) {
    GTEST_SKIP() << "not judged: CreateSymbolicLinkA planted no reparse point (Wine writes a "
                    "plain file)";
  }
  EXPECT_EQ(ReadFileBytes(symlinkVictim).value_or(""), "symlink victim");
}

TEST(Logger, AFileInPlaceOfTheLogFolderSendsTheLogPerUserAndOfBothLeavesNone) {
  // The helper's run below repairs the prefix user's components: the profile
  // is reset at the end (once the folders below are back), as the next test
  // in this prefix expects.
  struct ProfileReset {
    ~ProfileReset() { ResetProfile(); }
  } resetAtTheEnd;
  ScopedTempDir temp;
  ScopedEnvVar publicFolder("Public", temp.path().c_str());
  ScopedPerUserFolder perUser;
  // SHCreateDirectoryExA calls a file at the folder's name "already exists".
  ASSERT_TRUE(CreateDirectoryA((temp.path() + "\\Tessaly").c_str(), nullptr));
  const std::string blocked = temp.path() + "\\Tessaly\\Logging";
  ASSERT_TRUE(WriteFileBytes(blocked, "not a folder"));
  const LoggedRun run = RunLoggerProbe("path");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u);
  ExpectPerUserLog(run, "Failed to create the log folder (267) at:  " + blocked + "\\");

  // A file where a fresh per-user "Tessaly" folder should be as well: no
  // log, and a normal run.
  ScopedPerUserFolder blockedPerUser;
  ASSERT_TRUE(WriteFileBytes(blockedPerUser.folder.path() + "\\Tessaly", "not a folder"));
  const LoggedRun helper = RunHelper("");
  ASSERT_TRUE(helper.child.finished);
  EXPECT_EQ(helper.child.exitCode, 0u);
  EXPECT_FALSE(helper.logWritten);
}

TEST(Logger, UnsetFolderVariablesPutNoLogInTheCurrentDirectory) {
  ScopedTempDir temp;
  ScopedPerUserFolder perUser;
  char previousDirectory[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previousDirectory);
  ASSERT_TRUE(SetCurrentDirectoryA(temp.path().c_str()));
  {
    ScopedEnvVar publicFolder("Public", nullptr);
    const LoggedRun run = RunLoggerProbe("path");
    ASSERT_TRUE(run.child.finished);
    EXPECT_EQ(run.child.exitCode, 0u);
    ExpectPerUserLog(run, "Failed to expand the log folder (203):  %Public%\\Tessaly\\Logging\\");

    ScopedEnvVar localAppData("LOCALAPPDATA", nullptr);
    EXPECT_EQ(RunLoggerProbe("path").child.exitCode, 3u) << "a log file is named";
  }
  SetCurrentDirectoryA(previousDirectory);
  EXPECT_EQ(GetFileAttributesA((temp.path() + "\\%Public%").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((temp.path() + "\\%LOCALAPPDATA%").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

TEST(Logger, LeavesTheCallersLastErrorAsItWas) {
  // Flows log a failure and then read its error code for the next line.
  const LoggedRun run = RunLoggerProbe("last-error");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u) << "2: the first log call changed it, 3: a later one did";
}

TEST(SafeCloseHandle, LeavesNullInvalidAndProtectedHandlesAndClearsClosedOnes) {
  const LoggedRun run = RunLoggerProbe("handles");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u)
      << "2: null/invalid changed, 3: protected cleared, 4: not cleared, "
         "5: not closed, 6: no handle count, 7: owned protected handle left open, 8: not planted";
  ASSERT_TRUE(run.logWritten);
  const std::string& content = run.log;

  std::smatch handle;
  const std::string digits = "[0-9A-F]{" + std::to_string(2 * sizeof(void*)) + "}";
  ASSERT_TRUE(std::regex_search(content, handle, std::regex("protected (" + digits + ")")));
  EXPECT_NE(content.find("(SafeCloseHandle)  Unable to get handle info (0x" + handle[1].str() +
                         "); Error:  "),
            std::string::npos);
  // Only the protected handles were reported: the one held by a variable
  // and the one held by an owner.
  EXPECT_EQ(std::regex_search(content, std::regex(R"(Unable to close handle)")), false);
  size_t reports = 0;
  for (size_t at = content.find("(SafeCloseHandle)"); at != std::string::npos;
       at = content.find("(SafeCloseHandle)", at + 1)) {
    ++reports;
  }
  EXPECT_EQ(reports, 2u);
}

TEST(SafeCloseHandle, AnOwnerTriesOneCloseAndGivesUpTheValueWhenItFails) {
  const LoggedRun run = RunLoggerProbe("failed-close");
  ASSERT_TRUE(run.child.finished);
  EXPECT_EQ(run.child.exitCode, 0u)
      << "2: value kept, 3: closes tried other than once, 4: closed behind the failed close, "
         "5: not released, 6: no handle count, 8: not planted";
  const auto probe = Messages(run.log, "probe::failed-close");
  ASSERT_EQ(probe.size(), 3u) << run.log;
  const std::string refused = probe[1].substr(std::string("refused ").size());
  const std::string stale = probe[2].substr(std::string("stale ").size());
  EXPECT_EQ(Messages(run.log, "SafeCloseHandle"),
            (std::vector<std::string>{"Unable to close handle (0x" + refused + "); Error:  6",
                                      "Unable to get handle info (0x" + stale + "); Error:  6"}));
}

// The file name that the log shows for the program, and that the
// termination scan compares: the last component of any path.
TEST(FileNamePart, TakesTheLastComponentOfAPath) {
  EXPECT_EQ(FileNamePart("\\Device\\HarddiskVolume1\\Users\\j\\KelvoSetupClient.exe"),
            "KelvoSetupClient.exe");
  EXPECT_EQ(FileNamePart("iexplore.exe"), "iexplore.exe");
  EXPECT_EQ(FileNamePart("\\Device\\x\\"), "");
}
