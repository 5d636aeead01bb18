// Helpers shared by the test programs: running Windows programs as children,
// reading their log files, and restoring what a test changes.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// Path of the helper executable under test (REMEDION_HELPER_EXE).
std::string HelperExePath();

// Path of a program built beside the test programs (REMEDION_TEST_BIN_DIR).
std::string TestProgramPath(const std::string& fileName);

// A file of the payload kit (REMEDION_KIT_DIR), for example
// KitPath("fixtures\\signed_tessaly.exe") or KitPath("TessalyAppLauncher.msi").
std::string KitPath(const std::string& relativePath);

struct ChildResult {
  DWORD pid = 0;
  DWORD exitCode = STILL_ACTIVE;
  bool finished = false;
};

// Starts `commandLine` suspended, lets `beforeResume` see its process id (to
// plant or clear files named after it), resumes it and waits up to
// `timeoutMs`. A child that does not finish in time is killed.
ChildResult RunChild(const std::string& commandLine,
                     const std::function<void(DWORD pid)>& beforeResume = {},
                     DWORD timeoutMs = 120000);

// Runs the helper with `arguments` after removing any stale log of its pid.
ChildResult RunHelper(const std::string& arguments, DWORD timeoutMs = 120000);

// The log file the logger writes for process `pid` under the current %Public%.
std::string LogPathForPid(DWORD pid);

struct LoggedChildResult {
  ChildResult child;
  std::vector<std::string> messages;  // its log's records, as TaggedMessages gives them
};

// Runs a program that logs, as RunChild does, after removing any stale log of
// its pid; reads the records of its log and removes the log.
LoggedChildResult RunLoggingChild(const std::string& commandLine, DWORD timeoutMs = 120000);

std::optional<std::string> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// Splits on CR LF (the log's line ends on Windows); keeps empty lines.
std::vector<std::string> SplitCrLfLines(const std::string& text);

// The messages a log holds under `tag` (the text after "(tag)  "), in order.
std::vector<std::string> Messages(const std::string& log, const std::string& tag);

// Every record of a log as "(tag)  message": the prefix before the tag cut
// off, continuation lines left out.
std::vector<std::string> TaggedMessages(const std::string& log);

// Position of `message` in `messages`, or -1.
int IndexOf(const std::vector<std::string>& messages, const std::string& message);

// How often `message` occurs in `messages`.
size_t CountOf(const std::vector<std::string>& messages, const std::string& message);

// Sets or removes an environment variable for the test process and its
// children, and restores the former value when it goes out of scope.
class ScopedEnvVar {
 public:
  // Null or nothing removes the variable.
  ScopedEnvVar(const std::string& name, const char* value);
  ScopedEnvVar(const std::wstring& name, std::optional<std::wstring> value);
  ~ScopedEnvVar();
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

// A fresh, empty folder under the temporary folder, removed with its content
// when it goes out of scope.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }  // ends without a backslash

 private:
  std::string path_;
};

}  // namespace test_support
