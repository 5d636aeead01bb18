#include "tests/support/test_support.h"

#include "logging/ansi_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace test_support {

namespace {

constexpr int kStartAttempts = 3;
constexpr DWORD kStartRetryPauseMs = 500;

// The logger's own records, which every run writes.
bool IsBanner(const std::string& message) {
  return message.rfind("(PL.Ctor)  ", 0) == 0 || message.rfind("(PL.Dtor)  ", 0) == 0;
}

std::string LogPathForPidIn(const char* folderTemplate, DWORD pid) {
  char folder[MAX_PATH] = {};
  ExpandEnvironmentStringsA(folderTemplate, folder, MAX_PATH);
  return std::string(folder) + "Tessaly_KB61207_" + std::to_string(pid) + ".log";
}

}  // namespace

std::string RequiredEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string("environment variable not set: ") + name);
  }
  return value;
}

std::string ExpandedText(const std::string& text) {
  char buffer[MAX_PATH] = {};
  const DWORD length = ExpandEnvironmentStringsA(text.c_str(), buffer, sizeof(buffer));
  if (length == 0 || length > sizeof(buffer)) throw std::runtime_error("cannot expand " + text);
  return buffer;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string HelperExePath() { return RequiredEnv("REMEDION_HELPER_EXE"); }

std::string TestProgramPath(const std::string& fileName) {
  return RequiredEnv("REMEDION_TEST_BIN_DIR") + "\\" + fileName;
}

std::string KitPath(const std::string& relativePath) {
  return RequiredEnv("REMEDION_KIT_DIR") + "\\" + relativePath;
}

ChildResult RunChild(const std::string& commandLine,
                     const std::function<void(DWORD pid)>& beforeResume, DWORD timeoutMs) {
  ChildResult result;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Under load Wine now and then refuses a start that succeeds a moment
  // later; a start that keeps failing is reported with its error.
  bool started = false;
  for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt) {
    if (attempt > 0) Sleep(kStartRetryPauseMs);
    std::string mutableLine = commandLine;
    started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                             nullptr, nullptr, &startup, &info) != FALSE;
    if (!started) {
      std::fprintf(stderr, "cannot start %s: error %lu\n", commandLine.c_str(), GetLastError());
    }
  }
  if (!started) return result;
  result.pid = info.dwProcessId;
  if (beforeResume) beforeResume(info.dwProcessId);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);

  if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    result.finished = true;
    GetExitCodeProcess(info.hProcess, &result.exitCode);
  } else {
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, 5000);
  }
  CloseHandle(info.hProcess);
  return result;
}

std::string LogPathForPid(DWORD pid) {
  return LogPathForPidIn("%Public%\\Tessaly\\Logging\\", pid);
}

std::string PerUserLogPathForPid(DWORD pid) {
  return LogPathForPidIn("%LOCALAPPDATA%\\Tessaly\\Logging\\", pid);
}

bool LoggedRun::Has(const std::string& message) const { return IndexOf(messages, message) >= 0; }

bool LoggedRun::HasPrefix(const std::string& prefix) const {
  return std::any_of(messages.begin(), messages.end(), [&prefix](const std::string& message) {
    return message.rfind(prefix, 0) == 0;
  });
}

bool LoggedRun::LogHolds(const std::string& text) const {
  return log.find(text) != std::string::npos;
}

namespace {

std::string& LoggedRunsText() {
  static std::string text;
  return text;
}

}  // namespace

std::string TakeLoggedRuns() { return std::exchange(LoggedRunsText(), std::string()); }

LoggedRun RunLogged(const std::string& commandLine,
                    const std::function<void(const std::string& logPath)>& beforeStart,
                    DWORD timeoutMs) {
  LoggedRun run;
  const ULONGLONG started = GetTickCount64();
  run.child = RunChild(
      commandLine,
      [&beforeStart](DWORD pid) {
        const std::string logPath = LogPathForPid(pid);
        DeleteFileA(logPath.c_str());
        DeleteFileA(PerUserLogPathForPid(pid).c_str());
        if (beforeStart) beforeStart(logPath);
      },
      timeoutMs);
  run.elapsedMs = GetTickCount64() - started;
  if (run.child.pid == 0) return run;
  for (const std::string& logPath :
       {PerUserLogPathForPid(run.child.pid), LogPathForPid(run.child.pid)}) {
    std::optional<std::string> log = ReadFileBytes(logPath);
    DeleteFileA(logPath.c_str());
    if (!log || run.logWritten) continue;
    run.logWritten = true;
    run.logPath = logPath;
    run.log = std::move(*log);
  }
  LoggedRunsText() += "== " + commandLine + "\n" + run.log + "\n";
  if (!run.child.finished) {
    std::fprintf(stderr, "%s did not end within %lu ms and was ended; its log:\n%s\n",
                 commandLine.c_str(), timeoutMs, run.log.c_str());
  }
  for (std::string& message : TaggedMessages(run.log)) {
    if (!IsBanner(message)) run.messages.push_back(std::move(message));
  }
  return run;
}

LoggedRun RunProbe(const std::string& programName, const std::string& arguments,
                   const std::function<void(const std::string& logPath)>& beforeStart) {
  return RunLogged(Quoted(TestProgramPath(programName)) + " " + arguments, beforeStart);
}

LoggedRun RunHelper(const std::string& arguments) {
  return RunHelperExe(HelperExePath(), arguments);
}

LoggedRun RunHelperExe(const std::string& exePath, const std::string& arguments) {
  return RunLogged(Quoted(exePath) + (arguments.empty() ? "" : " " + arguments));
}

std::string FinalResultLine(const std::string& result) {
  return "(HandlePostRunActivities)  *** === --- Final result of remediation:  " + result +
         " --- === ***";
}

bool SetRegistryValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
                      const std::string& data, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool stored =
      RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
  RegCloseKey(key);
  return stored;
}

bool SetRegistryText(HKEY root, const std::string& subKey, const std::string& name,
                     const std::string& text, REGSAM view) {
  return SetRegistryValue(root, subKey, name, REG_SZ, std::string(text.c_str(), text.size() + 1),
                          view);
}

std::optional<StoredValue> ReadRegistryValue(HKEY root, const std::string& subKey,
                                             const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  StoredValue value;
  char buffer[1024] = {};
  DWORD size = sizeof(buffer);
  const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                          reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  value.data.assign(buffer, size);
  return value;
}

DWORD LinkCount(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info = {};
  const BOOL read = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  return read ? info.nNumberOfLinks : 0;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::filesystem::path FsPath(const std::string& ansiPath) {
  return std::filesystem::path(AnsiToWide(ansiPath));
}

std::string AnsiName(const std::filesystem::path& path) {
  return WideToAnsi(path.filename().wstring());
}

bool IsFolderEmpty(const std::string& folder) {
  return std::filesystem::is_empty(FsPath(folder));
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
}

std::vector<std::string> Messages(const std::string& log, const std::string& tag) {
  std::vector<std::string> messages;
  const std::string marker = "(" + tag + ")  ";
  for (const std::string& line : SplitCrLfLines(log)) {
    const size_t at = line.find(marker);
    if (at != std::string::npos) messages.push_back(line.substr(at + marker.size()));
  }
  return messages;
}

std::vector<std::string> TaggedMessages(const std::string& log) {
  // Matched against the line's start only: libstdc++'s regex recurses once
  // per character, and a message may be thousands of characters long.
  static const std::regex prefix(R"(\[[^\]]+\]  \[[^\]]*\]  \[[^\]]*\]  p\d+  \()");
  constexpr size_t kLongestPrefix = 1024;
  std::vector<std::string> messages;
  std::smatch match;
  for (const std::string& line : SplitCrLfLines(log)) {
    const std::string start = line.substr(0, kLongestPrefix);
    if (std::regex_search(start, match, prefix, std::regex_constants::match_continuous)) {
      messages.push_back(line.substr(match.length(0) - 1));
    }
  }
  return messages;
}

size_t CountOf(const std::vector<std::string>& messages, const std::string& message) {
  return static_cast<size_t>(std::count(messages.begin(), messages.end(), message));
}

int IndexOf(const std::vector<std::string>& messages, const std::string& message) {
  for (size_t i = 0; i < messages.size(); ++i) {
    if (messages[i] == message) return static_cast<int>(i);
  }
  return -1;
}

namespace {

std::wstring Widened(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return wide;
}

}  // namespace

ScopedEnvVar::ScopedEnvVar(const std::string& name, const char* value)
    : ScopedEnvVar(Widened(name),
                   value ? std::optional<std::wstring>(Widened(value)) : std::nullopt) {}

ScopedEnvVar::ScopedEnvVar(const std::wstring& name, std::optional<std::wstring> value)
    : name_(name) {
  // Kept wide: a value the ANSI code page cannot hold comes back whole.
  std::wstring buffer(32768, L'\0');
  const DWORD length =
      GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length > 0 && length < buffer.size()) previous_ = buffer.substr(0, length);
  SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvVar::~ScopedEnvVar() {
  SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

ScopedTempDir::ScopedTempDir() {
  char base[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, base);
  static unsigned counter = 0;
  path_ = std::string(base) + "remedion_test_" + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(GetTickCount()) + "_" + std::to_string(++counter);
  std::filesystem::create_directories(FsPath(path_));
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FsPath(path_), ignored);
}

}  // namespace test_support
