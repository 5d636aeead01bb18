// The shell's progress dialog, shown and driven from a thread of its own.
// The main thread only queues stage messages and never waits for the dialog
// longer than a named limit: a dialog that never comes up or never goes
// away costs the run seconds, never its end.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <string>

#include "logging/owners.h"
#include "progress/progress_constants.h"

// How long the main thread waits for the progress thread.
struct ProgressLimits {
  // For the dialog to come up at start().
  DWORD startMs = progress_constants::kStartLimitMs;
  // For the thread to show "Finishing..." and end, at destruction.
  DWORD endMs = progress_constants::kEndLimitMs;
};

class QVProgressMessageBox {
 public:
  // Throws std::runtime_error when the dialog cannot be set up.
  QVProgressMessageBox(std::wstring title, std::wstring startingMessage, uint32_t numberOfStates,
                       ProgressLimits limits = ProgressLimits());
  // Asks the progress thread to finish and waits for it up to limits.endMs;
  // a thread still inside the dialog then is left to the process's end.
  ~QVProgressMessageBox();

  QVProgressMessageBox(const QVProgressMessageBox&) = delete;
  QVProgressMessageBox& operator=(const QVProgressMessageBox&) = delete;

  // Shows the dialog and returns once it is up, or after limits.startMs
  // without it. Only the first call has an effect. Always true.
  bool start();

  // Queues a message for line 2; dropped when the dialog is not up.
  void sendUpdate(std::wstring message);

  // What the progress thread shares with the box; it outlives a box that
  // gave up waiting for the thread.
  struct Shared;

 private:
  bool init();

  std::wstring title_;
  std::wstring startingMessage_;
  ProgressLimits limits_;
  std::shared_ptr<Shared> shared_;
  UniqueHandle progressThread_;
  bool startCalled_ = false;
  // Whether start() saw the dialog come up: messages are queued only then.
  bool dialogUp_ = false;
  bool comInitialized_ = false;
};
