// The shell's progress dialog, shown and driven from a thread of its own.
// The main thread only queues stage messages and never waits for the dialog.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "logging/unique_any.h"
#include "logging/unique_handle.h"

namespace qv_progress_detail {
inline constexpr char kDestructorTag[] = "QVProgressMessageBox::~QVProgressMessageBox";
inline constexpr char kUpdateEventCloseFailed[] = "CloseHandle Failed, last error: %lu";
inline constexpr char kStartedEventCloseFailed[] =
    "CloseHandle Failed for Async Event, last error: %lu";
inline void ReleaseComObject(IUnknown* object) { object->Release(); }
}  // namespace qv_progress_detail

class QVProgressMessageBox {
 public:
  // Throws std::runtime_error when the dialog cannot be set up.
  QVProgressMessageBox(std::wstring title, std::wstring startingMessage, uint32_t numberOfStates);
  ~QVProgressMessageBox();

  QVProgressMessageBox(const QVProgressMessageBox&) = delete;
  QVProgressMessageBox& operator=(const QVProgressMessageBox&) = delete;

  // Shows the dialog and returns once it is up, or after kStartLimitMs
  // without it (the dialog's thread goes on). Only the first call in the
  // process has an effect. Always true.
  bool start();

  // Queues a message for line 2; dropped when the dialog was never started.
  void sendUpdate(std::wstring message);

 private:
  bool init();
  // Waits for the next message. True when the finish request was received
  // instead (and the queue is empty).
  bool getUpdate(std::wstring& message);
  static void progressThreadProc(QVProgressMessageBox* box);
  void setProgressWindowStarted();

  std::wstring title_;
  std::wstring startingMessage_;
  uint32_t numberOfStates_;
  std::future<void> progressTask_;
  HWND parentWindow_;
  UniqueAny<NullableTraits<IProgressDialog*, qv_progress_detail::ReleaseComObject>> progressDialog_;
  // The events' failed closes are logged in the box's own words.
  UniqueAny<OwnWordsHandleTraits<qv_progress_detail::kDestructorTag,
                                 qv_progress_detail::kUpdateEventCloseFailed>>
      updateEvent_;
  UniqueAny<OwnWordsHandleTraits<qv_progress_detail::kDestructorTag,
                                 qv_progress_detail::kStartedEventCloseFailed>>
      startedEvent_;
  std::deque<std::wstring> messageQueue_;
  std::mutex queueLock_;
  std::atomic<bool> finishRequested_{false};
  bool comInitialized_ = false;
};
