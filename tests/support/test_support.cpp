#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kStartAttempts = 3;
constexpr DWORD kStartRetryPauseMs = 500;

std::string RequiredEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string("environment variable not set: ") + name);
  }
  return value;
}

}  // namespace

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

ChildResult RunHelper(const std::string& arguments, DWORD timeoutMs) {
  std::string line = "\"" + HelperExePath() + "\"";
  if (!arguments.empty()) line += " " + arguments;
  return RunChild(
      line, [](DWORD pid) { DeleteFileA(LogPathForPid(pid).c_str()); }, timeoutMs);
}

LoggedChildResult RunLoggingChild(const std::string& commandLine, DWORD timeoutMs) {
  LoggedChildResult run;
  run.child = RunChild(
      commandLine, [](DWORD pid) { DeleteFileA(LogPathForPid(pid).c_str()); }, timeoutMs);
  const std::string log = LogPathForPid(run.child.pid);
  run.messages = TaggedMessages(ReadFileBytes(log).value_or(""));
  DeleteFileA(log.c_str());
  return run;
}

std::string LogPathForPid(DWORD pid) {
  char folder[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%Public%\\Tessaly\\Logging\\", folder, MAX_PATH);
  return std::string(folder) + "Tessaly_KB61207_" + std::to_string(pid) + ".log";
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
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
  static const std::regex record(R"(^\[[^\]]+\]  \[[^\]]*\]  \[[^\]]*\]  p\d+  (\(.*)$)");
  std::vector<std::string> messages;
  std::smatch match;
  for (const std::string& line : SplitCrLfLines(log)) {
    if (std::regex_match(line, match, record)) messages.push_back(match[1]);
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
  std::filesystem::create_directories(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace test_support
