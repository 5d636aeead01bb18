#include "logging/primitive_logger.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <string>

#include "logging/environment_text.h"
#include "logging/log_file.h"
#include "logging/log_text.h"
#include "logging/logger_constants.h"

using namespace logger_constants;

namespace {

// The logger is a fact of the process, not of a run: one file per process,
// named after its id, opened by the first log call and closed by
// ShutdownLogger, after which nothing logs.
std::atomic<PrimitiveLogger*> g_logger{nullptr};
std::atomic<bool> g_torn_down{false};

// Shared by all log calls; only touched while the logger's lock is held.
char g_message[kMessageBufferSize];

// The file-name part of the executable's path; kept once known.
std::string g_process_name;

// "%Y-%m-%d %H:%M:%S UTC" followed by the ISO 8601 offset of local time.
// msvcrt's %z prints a zone name, so the offset is computed here.
std::string FormatTimeStamp() {
  const time_t now = time(nullptr);
  struct tm local = {};
  if (localtime_s(&local, &now) != 0) return std::string();

  char buffer[kTimeBufferSize] = {};
  strftime(buffer, sizeof(buffer), kTimeFormat, &local);

  struct tm as_utc = local;
  const long long offset_seconds = static_cast<long long>(_mkgmtime(&as_utc)) - now;
  const long long offset_minutes = (offset_seconds >= 0 ? offset_seconds : -offset_seconds) / 60;
  char offset[8] = {};
  snprintf(offset, sizeof(offset), "%c%02d%02d", offset_seconds < 0 ? '-' : '+',
           static_cast<int>(offset_minutes / 60), static_cast<int>(offset_minutes % 60));
  return std::string(buffer) + offset;
}

// Whether `expanded` still begins with the %NAME% reference that begins
// `folderTemplate`: an unset variable is left as written, which would put
// the log under the current directory.
bool StillUnexpanded(const char* folderTemplate, const std::string& expanded) {
  const char* end = folderTemplate[0] == '%' ? strchr(folderTemplate + 1, '%') : nullptr;
  return end != nullptr &&
         _strnicmp(expanded.c_str(), folderTemplate, end - folderTemplate + 1) == 0;
}

// The executable's file name; the whole path when that is empty (a path
// ending in a backslash).
const std::string& ProcessName() {
  if (g_process_name.empty()) {
    const std::string path = GetModulePath();
    const std::string name = FileNamePart(path);
    g_process_name = name.empty() ? path : name;
  }
  return g_process_name;
}

}  // namespace

PrimitiveLogger* PrimitiveLogger::Instance() {
  // A thread-safe static: made by the first call while the others wait; one
  // whose construction threw is made again by the next call.
  static const bool made = [] {
    if (!g_torn_down.load()) g_logger.store(new PrimitiveLogger());
    return true;
  }();
  (void)made;
  return g_logger.load();
}

void PrimitiveLogger::Log(const char* tag, const char* format, ...) {
  // A log call leaves the thread's last error as it found it: steps log
  // their progress and then report "the current system error code" of the
  // call before (WinProcess::Wait's "CreateProcess(...) failed %lu"), and
  // the logger's own calls must not stand in for it.
  const DWORD lastError = GetLastError();
  PrimitiveLogger* logger = Instance();
  if (logger != nullptr) {
    va_list args;
    va_start(args, format);
    logger->WriteV(tag, format, args);
    va_end(args);
  }
  SetLastError(lastError);
}

PrimitiveLogger::PrimitiveLogger() {
  // COM on the main thread lives as long as the logger; the result is not
  // needed, a failure only matters to COM's later users.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  EnableLogToFile();
}

PrimitiveLogger::~PrimitiveLogger() = default;

struct PrimitiveLogger::OpenFailure {
  enum class Step { kNone, kExpandFolder, kCreateFolder, kOpenFile };
  Step step = Step::kNone;
  unsigned long error = 0;  // a system error code; the C runtime's for kOpenFile
  std::string where;        // the folder as configured, the folder, or the file
};

// Every user may write to the public folder, so anyone may block it (a file
// at its name, a link at the log's) or an admin may lock it; the per-user
// folder then takes the log. The start banner stays the first record, and
// the lines right after it say why the log is there.
void PrimitiveLogger::EnableLogToFile() {
  const OpenFailure publicFailure = OpenLogIn(kLogFolder);
  if (file_ == nullptr) OpenLogIn(kPerUserLogFolder);

  Write("PL.Ctor", kStartBanner, static_cast<unsigned long long>(GetTickCount64()));
  if (publicFailure.step != OpenFailure::Step::kNone) {
    WriteOpenFailure(publicFailure);
    Write("PrimitiveLogger::EnableLogToFile", "Log written to the per-user folder instead:  %s",
          path_.c_str());
  }
}

PrimitiveLogger::OpenFailure PrimitiveLogger::OpenLogIn(const char* folderTemplate) {
  using Step = OpenFailure::Step;
  std::string folder;
  const Win32Result expanded = ExpandEnvironmentText(folderTemplate, MAX_PATH, folder);
  if (!expanded) return {Step::kExpandFolder, expanded.error(), folderTemplate};
  if (StillUnexpanded(folderTemplate, folder)) {
    return {Step::kExpandFolder, ERROR_ENVVAR_NOT_FOUND, folderTemplate};
  }
  const Win32Result made = CreateLogFolder(folder);
  if (!made) return {Step::kCreateFolder, made.error(), folder};

  const std::string path =
      folder + kLogFilePrefix + std::to_string(GetCurrentProcessId()) + kLogFileExtension;
  int openError = 0;
  file_ = OpenLogFileForAppend(path, &openError);
  if (file_ == nullptr) return {Step::kOpenFile, static_cast<unsigned long>(openError), path};
  path_ = path;
  return {};
}

void PrimitiveLogger::WriteOpenFailure(const OpenFailure& failure) {
  constexpr char kTag[] = "PrimitiveLogger::EnableLogToFile";
  switch (failure.step) {
    case OpenFailure::Step::kExpandFolder:
      Write(kTag, "Failed to expand the log folder (%lu):  %s", failure.error,
            failure.where.c_str());
      break;
    case OpenFailure::Step::kCreateFolder:
      Write(kTag, "Failed to create the log folder (%lu) at:  %s", failure.error,
            failure.where.c_str());
      break;
    case OpenFailure::Step::kOpenFile:
      Write(kTag, "Failed to open log file (%d) at:  %s", static_cast<int>(failure.error),
            failure.where.c_str());
      break;
    case OpenFailure::Step::kNone:
      break;
  }
}

void PrimitiveLogger::Write(const char* tag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(tag, format, args);
  va_end(args);
}

void PrimitiveLogger::WriteV(const char* tag, const char* format, va_list args) {
  std::lock_guard<std::mutex> guard(lock_);

  // msvcrt's own engine: its %p prints the pointer's digits in upper case.
  // A longer message is cut at the buffer's end.
  _vsnprintf(g_message, sizeof(g_message) - 1, format, args);
  g_message[sizeof(g_message) - 1] = '\0';

  if (file_ == nullptr) return;

  const std::string time_stamp = FormatTimeStamp();
  fprintf(file_, kLineFormat, time_stamp.c_str(), GetCurrentUserName().c_str(),
          ProcessName().c_str(), static_cast<long>(GetCurrentProcessId()), tag, g_message);
}

void PrimitiveLogger::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  if (file_ == nullptr) return;
  fflush(file_);
  fclose(file_);
  file_ = nullptr;
}

void ShutdownLogger() {
  if (g_torn_down.exchange(true)) return;
  // Waits for a creation under way, and keeps a first log call after this
  // point from creating a new logger.
  PrimitiveLogger* logger = PrimitiveLogger::Instance();
  if (logger == nullptr) return;

  logger->Write("PL.Dtor", kExitBanner, static_cast<unsigned long long>(GetTickCount64()));
  logger->Close();
  CoUninitialize();
  g_logger.store(nullptr);
  delete logger;
}

std::string GetLogFilePath() {
  PrimitiveLogger* logger = PrimitiveLogger::Instance();
  if (logger == nullptr) return {};
  std::lock_guard<std::mutex> guard(logger->lock_);
  return logger->file_ != nullptr ? logger->path_ : std::string();
}

const std::string& GetCurrentUserName() {
  static const std::string user_name = [] {
    char buffer[kUserNameBufferSize] = {};
    DWORD size = sizeof(buffer);
    if (GetUserNameA(buffer, &size)) return std::string(buffer);
    return std::string(kUnknownUserName);
  }();
  return user_name;
}

std::string GetModulePath() {
  static std::mutex lock;
  static std::string module_path;
  std::lock_guard<std::mutex> guard(lock);
  if (module_path.empty()) {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) module_path = buffer;
  }
  return module_path;
}
