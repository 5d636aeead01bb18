#include "progress/qv_progress_message_box.h"

#include <process.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "logging/primitive_logger.h"
#include "logging/owners.h"

using namespace progress_constants;

namespace {

constexpr char kInitTag[] = "QVProgressMessageBox::init";
constexpr char kGetUpdateTag[] = "QVProgressMessageBox::getUpdate";
constexpr char kThreadTag[] = "QVProgressMessageBox::progressThreadProc";
constexpr char kDestructorTag[] = "QVProgressMessageBox::~QVProgressMessageBox";
constexpr char kStartTag[] = "QVProgressMessageBox::start::<lambda()>";
constexpr char kUpdateEventCloseFailed[] = "CloseHandle Failed, last error: %lu";
constexpr char kStartedEventCloseFailed[] = "CloseHandle Failed for Async Event, last error: %lu";
constexpr char kInitFailedText[] = "An error occurred while initializing Progress Message box";

HANDLE CreateUnnamedManualResetEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

struct QVProgressMessageBox::Shared {
  Shared(HWND parent, uint32_t states) : parentWindow(parent), numberOfStates(states) {}

  // Logs unless the box has given up on this thread: the logger may be gone
  // by the time a thread stuck in the dialog comes back.
  template <typename... Args>
  void Log(const char* tag, const char* format, Args... args) {
    std::lock_guard<std::mutex> guard(logGate);
    if (!abandoned) PrimitiveLogger::Log(tag, format, args...);
  }
  // Returns once no log call of the thread is under way; none follows.
  void Abandon() {
    std::lock_guard<std::mutex> guard(logGate);
    abandoned = true;
  }

  void progressThreadProc();
  // Waits for the next message. True when the finish request was received
  // instead (and the queue is empty).
  bool getUpdate(std::wstring& message);
  void setProgressWindowStarted();

  const HWND parentWindow;
  const uint32_t numberOfStates;
  UniqueComPtr<IProgressDialog> dialog;
  // Closed in the reverse order: the update event first. Failed closes are
  // logged in the box's own words.
  OwnWordsHandle<kDestructorTag, kStartedEventCloseFailed> startedEvent;
  OwnWordsHandle<kDestructorTag, kUpdateEventCloseFailed> updateEvent;
  std::deque<std::wstring> messageQueue;
  std::mutex queueLock;
  std::atomic<bool> finishRequested{false};
  std::mutex logGate;
  bool abandoned = false;
};

namespace {

// The progress thread's entry: it holds the shared part until it ends, so
// that a box which stopped waiting for it leaves it nothing dangling.
unsigned __stdcall ProgressThreadEntry(void* parameter) {
  std::shared_ptr<QVProgressMessageBox::Shared> shared;
  {
    std::unique_ptr<std::shared_ptr<QVProgressMessageBox::Shared>> handedOver(
        static_cast<std::shared_ptr<QVProgressMessageBox::Shared>*>(parameter));
    shared = std::move(*handedOver);
  }
  try {
    shared->progressThreadProc();
  } catch (const std::exception& error) {
    shared->Log(kThreadTag, "CPP Exception caught in progress thread:  %s", error.what());
  } catch (...) {
    shared->Log(kThreadTag, "Unknown Exception caught in progress thread");
  }
  return 0;
}

}  // namespace

QVProgressMessageBox::QVProgressMessageBox(std::wstring title, std::wstring startingMessage,
                                           uint32_t numberOfStates, ProgressLimits limits)
    : title_(std::move(title)),
      startingMessage_(std::move(startingMessage)),
      limits_(limits),
      shared_(std::make_shared<Shared>(GetForegroundWindow(), numberOfStates)) {
  if (!init()) {
    // The destructor does not run for a failed construction. The dialog
    // goes before COM does.
    shared_.reset();
    if (comInitialized_) CoUninitialize();
    throw std::runtime_error(kInitFailedText);
  }
}

bool QVProgressMessageBox::init() {
  if (title_.empty() || startingMessage_.empty()) {
    PrimitiveLogger::Log(kInitTag, "Title or starting message or Both are empty");
    return false;
  }
  if (shared_->numberOfStates == 0) {
    PrimitiveLogger::Log(kInitTag, "No of states should be greater than Zero(0)");
    return false;
  }

  shared_->updateEvent.reset(CreateUnnamedManualResetEvent());
  if (!shared_->updateEvent) {
    PrimitiveLogger::Log(kInitTag, "CreateEvent Failed, Error: %lu", GetLastError());
    return false;
  }
  shared_->startedEvent.reset(CreateUnnamedManualResetEvent());
  if (!shared_->startedEvent) {
    PrimitiveLogger::Log(kInitTag, "CreateEvent Failed for Async Event, Error: %lu",
                         GetLastError());
    return false;
  }

  const HRESULT com = CoInitialize(nullptr);
  comInitialized_ = SUCCEEDED(com);
  if (!comInitialized_) {
    PrimitiveLogger::Log(kInitTag, "CoInitialize Failed, Error: 0x%0x", static_cast<unsigned>(com));
  }

  IProgressDialog* dialog = nullptr;
  const HRESULT created = CoCreateInstance(CLSID_ProgressDialog, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IProgressDialog, reinterpret_cast<void**>(&dialog));
  if (FAILED(created) || dialog == nullptr) {
    PrimitiveLogger::Log(kInitTag, "CoCreateInstance Failed, Error: 0x%0x",
                         static_cast<unsigned>(created));
    return false;
  }
  shared_->dialog.reset(dialog);

  dialog->SetTitle(title_.c_str());
  dialog->SetLine(kStartingLine, startingMessage_.c_str(), FALSE, nullptr);
  return true;
}

bool QVProgressMessageBox::start() {
  if (startCalled_) return true;
  startCalled_ = true;

  auto* handedOver = new std::shared_ptr<Shared>(shared_);
  const uintptr_t thread = _beginthreadex(nullptr, 0, ProgressThreadEntry, handedOver, 0, nullptr);
  if (thread == 0) {
    delete handedOver;
    PrimitiveLogger::Log(kStartTag,
                         "Progress thread could not be started (errno %d); going on "
                         "without the progress window",
                         errno);
    return true;
  }
  progressThread_.reset(reinterpret_cast<HANDLE>(thread));

  // A thread that ends without showing the dialog ends the wait as well.
  const HANDLE waitFor[] = {shared_->startedEvent.get(), progressThread_.get()};
  const DWORD wait = WaitForMultipleObjects(2, waitFor, FALSE, limits_.startMs);
  if (wait == WAIT_OBJECT_0) {
    dialogUp_ = true;
    PrimitiveLogger::Log(kStartTag, "Progress window started");
  } else if (wait == WAIT_OBJECT_0 + 1) {
    PrimitiveLogger::Log(kStartTag, "Progress window ended before it started; going on without it");
  } else if (wait == WAIT_TIMEOUT) {
    PrimitiveLogger::Log(kStartTag,
                         "Progress window did not start within %lu ms; going on without it",
                         limits_.startMs);
  } else {
    PrimitiveLogger::Log(kStartTag, "WaitForMultipleObjects Failed, Error: %lu", GetLastError());
  }
  return true;
}

void QVProgressMessageBox::sendUpdate(std::wstring message) {
  if (!dialogUp_) return;
  std::lock_guard<std::mutex> guard(shared_->queueLock);
  shared_->messageQueue.push_back(std::move(message));
  if (!SetEvent(shared_->updateEvent.get())) {
    PrimitiveLogger::Log("QVProgressMessageBox::sendUpdate", "SetEvent Failed, Error: %lu",
                         GetLastError());
  }
}

bool QVProgressMessageBox::Shared::getUpdate(std::wstring& message) {
  for (;;) {
    // A signalled event with an empty queue (after a failed reset) leads
    // back here: the queue is never read while it is empty.
    for (;;) {
      size_t queued = 0;
      {
        std::lock_guard<std::mutex> guard(queueLock);
        queued = messageQueue.size();
      }
      if (queued != 0 || finishRequested.load()) break;

      const DWORD wait = WaitForSingleObject(updateEvent.get(), kUpdateWaitMs);
      if (wait == WAIT_OBJECT_0) break;
      if (wait == WAIT_TIMEOUT) continue;
      Log(kGetUpdateTag, "WaitForSingleObject Failed, Error: %lu", wait);
      return false;
    }

    std::unique_lock<std::mutex> guard(queueLock);
    if (messageQueue.empty()) {
      if (finishRequested.load()) {
        message.clear();
        guard.unlock();
        Log(kGetUpdateTag, "Progress Finish notification received");
        return true;
      }
      // Signalled with nothing queued: clear the signal so that the next
      // wait really waits, and pause instead if it still cannot be cleared.
      const bool cleared = ResetEvent(updateEvent.get()) != FALSE;
      guard.unlock();
      if (!cleared) Sleep(kUpdateWaitMs);
      continue;
    }
    message = std::move(messageQueue.front());
    messageQueue.pop_front();
    const bool reset = ResetEvent(updateEvent.get()) != FALSE;
    const DWORD resetError = reset ? ERROR_SUCCESS : GetLastError();
    guard.unlock();
    Log(kGetUpdateTag, "Progress Msg Received: %ls", message.c_str());
    if (!reset) Log(kGetUpdateTag, "ResetEvent Failed, Error: %lu", resetError);
    return false;
  }
}

void QVProgressMessageBox::Shared::progressThreadProc() {
  IProgressDialog* const shown = dialog.get();
  // The dialog is created as a window owned by the one that was in front
  // when the box was made, often another program's. Once that window is
  // gone the creation fails, and Wine's StartProgressDialog then waits for
  // good for a dialog that never comes; Windows would not show it either.
  // (It can still go in the moment between this look and the creation:
  // start() does not wait for the dialog beyond its limit.)
  HWND owner = parentWindow;
  if (owner != nullptr && !IsWindow(owner)) {
    Log(kThreadTag,
        "The window the progress window was to stay in front of (0x%p) is gone; "
        "showing it on its own",
        static_cast<void*>(owner));
    owner = nullptr;
  }
  shown->StartProgressDialog(owner, nullptr, PROGDLG_AUTOTIME, nullptr);
  Sleep(kMessagePauseMs);
  setProgressWindowStarted();

  const uint32_t total = numberOfStates;
  std::wstring message;
  for (uint32_t step = 0;;) {
    const bool finished = getUpdate(message);
    if (finished) {
      message = kFinishingMessage;
      step = total;
    }
    shown->SetLine(kMessageLine, message.c_str(), FALSE, nullptr);
    shown->SetProgress(step, total);
    Sleep(kMessagePauseMs);
    if (finished) {
      Log(kThreadTag, "Progress Messages Ended before Max Msg limit was reached.");
      break;
    }
    if (++step > total) {
      Log(kThreadTag, "Progress Messages Exhauted");
      break;
    }
  }
  shown->StopProgressDialog();
}

void QVProgressMessageBox::Shared::setProgressWindowStarted() {
  if (!SetEvent(startedEvent.get())) {
    Log("QVProgressMessageBox::setProgressWindowStarted", "SetEvent Failed, Error: %lu",
        GetLastError());
  }
}

QVProgressMessageBox::~QVProgressMessageBox() {
  shared_->finishRequested.exchange(true);
  bool threadEnded = true;
  if (progressThread_) {
    const DWORD wait = WaitForSingleObject(progressThread_.get(), limits_.endMs);
    if (wait != WAIT_OBJECT_0) {
      threadEnded = false;
      if (wait == WAIT_TIMEOUT) {
        PrimitiveLogger::Log(kDestructorTag,
                             "Progress window did not end within %lu ms; going on without it",
                             limits_.endMs);
      } else {
        PrimitiveLogger::Log(kDestructorTag, "WaitForSingleObject Failed, Error: %lu",
                             GetLastError());
      }
      // The thread keeps what it shares with the box (the dialog, the
      // events) and frees it if it ever ends; the process's end ends it
      // otherwise.
      shared_->Abandon();
    }
    progressThread_.reset();
  }

  // The dialog is released on the thread that made it, before COM goes:
  // only a successful CoInitialize is balanced, since an extra
  // CoUninitialize would undo the logger's own initialisation of COM.
  if (threadEnded) shared_->dialog.reset();
  if (comInitialized_) CoUninitialize();
  shared_.reset();
}
