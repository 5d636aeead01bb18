#include "tests/support/scenario_checks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>

#include "logging/ansi_text.h"
#include "tests/support/component_profile.h"

namespace test_support {

std::string WrittenPayloadPath(const LoggedRun& run, const std::string& payloadName) {
  const std::regex written("File " + payloadName + " successfully written to  (.*)");
  std::smatch match;
  for (const auto& message : run.messages) {
    if (std::regex_search(message, match, written)) return match[1].str();
  }
  return {};
}

std::string FinalDump(const LoggedRun& run, const std::string& counter) {
  const std::string label = "\r\n" + counter + ": ";
  const size_t at = run.log.rfind(label);
  if (at == std::string::npos) return "(no " + counter + ")";
  const size_t count = at + label.size();
  const size_t names = run.log.find("\r\n", count);
  if (names == std::string::npos) return "(no " + counter + ")";
  const size_t end = run.log.find("\r\n", names + 2);
  return run.log.substr(count, names - count) + ": " + run.log.substr(names + 2, end - names - 2);
}

void ExpectCurrentComponents(const std::string& setupClientVersion) {
  EXPECT_EQ(FileVersionOf(SetupClientExePath()), setupClientVersion);
  EXPECT_EQ(FileVersionOf(LauncherExePath()), "22.7.2.0");
  const auto products = InstalledLauncherProducts();
  ASSERT_EQ(products.size(), 1u);
  EXPECT_EQ(ProductVersion(products[0]), "22.7.2");
}

void ExpectCompleteRun(const LoggedRun& run, const std::string& outcome) {
  ASSERT_TRUE(run.child.finished) << "the run did not end in time";
  EXPECT_EQ(run.child.exitCode, 0u);
  const std::optional<std::string> result = RunRecordValue("LastRunResult");
  ASSERT_TRUE(result.has_value()) << "no run result recorded";
  EXPECT_TRUE(run.Has(FinalResultLine(*result))) << "no final line for " << *result;
  EXPECT_EQ(RunRecordValue("LastRunOutcome").value_or("(none)"), outcome);
  // The log read is the file the record names.
  ASSERT_TRUE(run.logWritten);
  EXPECT_EQ(RunRecordValue("LastRunLog").value_or("(none)"), run.logPath);
  // Whatever went wrong was a logged Win32 error, never a library's text.
  EXPECT_FALSE(run.LogHolds("filesystem error"));
  // Its restore points went with it.
  EXPECT_EQ(GetFileAttributesA(ExpandedText("%LOCALAPPDATA%\\Tessaly\\Restore").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << "the run left its restore folder";
  // The run ended through its teardown, and nothing logged after it.
  std::vector<std::string> lines = SplitCrLfLines(run.log);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  EXPECT_TRUE(!lines.empty() &&
              lines.back().find("(PL.Dtor)  ===Tessaly Remedion Exiting at ") != std::string::npos)
      << "the log does not end with the exit banner";
}

std::string FolderLeftovers(const std::wstring& folder, const std::vector<std::wstring>& expected) {
  WIN32_FIND_DATAW entry = {};
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return "(folder unreadable)";
  std::string names;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L".." || name.rfind(L"~nsu", 0) == 0 ||
        std::find(expected.begin(), expected.end(), name) != expected.end()) {
      continue;
    }
    names += (names.empty() ? "" : ", ") + WideToAnsi(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

}  // namespace test_support
