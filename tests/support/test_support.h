// Helpers shared by the test programs: running Windows programs as children,
// reading their log files, and restoring what a test changes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// The value of a variable the test configuration sets; throws when it is
// unset or empty.
std::string RequiredEnv(const char* name);

// Path of the helper executable under test (REMEDION_HELPER_EXE).
std::string HelperExePath();

// Path of a program built beside the test programs (REMEDION_TEST_BIN_DIR).
std::string TestProgramPath(const std::string& fileName);

// A file of the payload kit (REMEDION_KIT_DIR), for example
// KitPath("fixtures\\signed_tessaly.exe") or KitPath("TessalyAppLauncher.msi").
std::string KitPath(const std::string& relativePath);

// `text` with its environment variables expanded; throws when it does not
// fit MAX_PATH.
std::string ExpandedText(const std::string& text);

// `text` in double quotes, as a command line names a path with blanks.
std::string Quoted(const std::string& text);

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

// The log file the logger writes for process `pid` under the current %Public%,
// and the one it writes instead under %LOCALAPPDATA%.
std::string LogPathForPid(DWORD pid);
std::string PerUserLogPathForPid(DWORD pid);

// A program that logs, run to its end as a child: how it ended and what it
// logged. The log is read once the child has ended, and deleted.
struct LoggedRun {
  ChildResult child;
  ULONGLONG elapsedMs = 0;  // from the child's creation to its end
  bool logWritten = false;
  std::string logPath;  // the public or the per-user one, when written
  std::string log;      // the whole file
  // "(tag)  message" of each record, as TaggedMessages gives them, without
  // the logger's start and exit banners.
  std::vector<std::string> messages;

  bool Has(const std::string& message) const;
  // Whether some record starts with `prefix`.
  bool HasPrefix(const std::string& prefix) const;
  bool LogHolds(const std::string& text) const;
};

// Runs `commandLine` as RunChild does. Before the child resumes, stale logs
// of its process id are removed and `beforeStart` may plant a file at the
// public log's path. Afterwards the per-user log is read when there is one
// (the run wrote it: the public one failed), the public one otherwise; both
// are deleted.
LoggedRun RunLogged(const std::string& commandLine,
                    const std::function<void(const std::string& logPath)>& beforeStart = {},
                    DWORD timeoutMs = 120000);

// A program built beside the tests (TestProgramPath(programName)) with
// `arguments`, as RunLogged runs it.
LoggedRun RunProbe(const std::string& programName, const std::string& arguments,
                   const std::function<void(const std::string& logPath)>& beforeStart = {});

// The command lines and logs of the programs RunLogged ran since the last
// call, for the report of a test that failed (their files are gone by then).
std::string TakeLoggedRuns();

// The helper under test, or a build of it with other payloads, with
// `arguments`, as RunLogged runs it.
LoggedRun RunHelper(const std::string& arguments);
LoggedRun RunHelperExe(const std::string& exePath, const std::string& arguments);

// The record of the final result ("Success" or "Failure") as TaggedMessages
// gives it.
std::string FinalResultLine(const std::string& result);

// Stores `data` as a value of `type` under root\subKey, creating the key;
// `view` is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY. SetRegistryText stores
// REG_SZ text with its terminating NUL.
bool SetRegistryValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
                      const std::string& data, REGSAM view = 0);
bool SetRegistryText(HKEY root, const std::string& subKey, const std::string& name,
                     const std::string& text, REGSAM view = 0);

// A value as the registry stores it: its type and its bytes (REG_SZ with the
// terminating NUL). Empty when the key or value is missing.
struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;
};
std::optional<StoredValue> ReadRegistryValue(HKEY root, const std::string& subKey,
                                             const std::string& name);

// A narrow path as std::filesystem takes it: decoded through the ANSI code
// page, as the narrow Windows calls do (libstdc++'s own conversion from char
// is not the code page). And a name it lists, back in the code page.
std::filesystem::path FsPath(const std::string& ansiPath);
std::string AnsiName(const std::filesystem::path& path);

std::optional<std::string> ReadFileBytes(const std::string& path);
// Whether the folder holds nothing (throws when it cannot be read).
bool IsFolderEmpty(const std::string& folder);
// How many names (hard links) the file has; 0 when it cannot be opened.
DWORD LinkCount(const std::string& path);
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
