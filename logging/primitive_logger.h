// The run's diagnostic log file: one process-wide logger, created by the
// first log call and torn down once by ShutdownLogger. The logger, the user
// name and the module path are facts of the process, not of a run (the file
// is named after the process id), and so are kept process-wide.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class PrimitiveLogger {
 public:
  // The logger, created on first use. Null once ShutdownLogger has run: a log
  // call after the teardown is dropped.
  static PrimitiveLogger* Instance();

  // Formats one message and appends it as one line; never reports failure.
  static void Log(const char* tag, const char* format, ...)
      __attribute__((format(ms_printf, 2, 3)));

  PrimitiveLogger(const PrimitiveLogger&) = delete;
  PrimitiveLogger& operator=(const PrimitiveLogger&) = delete;

 private:
  friend void ShutdownLogger();
  friend std::string GetLogFilePath();

  PrimitiveLogger();
  ~PrimitiveLogger();

  // Why a log folder did not take the log; defined where it is used.
  struct OpenFailure;

  void EnableLogToFile();
  // Opens this process's log in `folderTemplate`, setting file_ and path_;
  // what failed otherwise.
  OpenFailure OpenLogIn(const char* folderTemplate);
  void WriteOpenFailure(const OpenFailure& failure);
  // Writes through the instance rather than Log(): the constructor and the
  // teardown run while Instance() cannot be used.
  void Write(const char* tag, const char* format, ...) __attribute__((format(ms_printf, 3, 4)));
  void WriteV(const char* tag, const char* format, va_list args);
  void Close();

  FILE* file_ = nullptr;
  std::string path_;
  std::mutex lock_;
};

// Writes the exit banner, closes the file and uninitialises COM; runs at
// most once per process.
void ShutdownLogger();

// Full path of the log file this run writes (the per-user one when the
// public one failed), or empty when it writes none (neither folder took it,
// or after ShutdownLogger).
std::string GetLogFilePath();

// Name of the user the process runs as, or "<UnknownUN>"; computed once.
const std::string& GetCurrentUserName();

// Full path of the program's own executable, or empty; kept once known.
std::string GetModulePath();
