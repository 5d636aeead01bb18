#include "progress/qv_progress_message_box.h"

#include <stdexcept>
#include <utility>

#include "logging/once_guard.h"
#include "logging/primitive_logger.h"
#include "progress/progress_constants.h"
#include "progress/progress_task.h"

using namespace progress_constants;

namespace {

constexpr char kInitTag[] = "QVProgressMessageBox::init";
constexpr char kGetUpdateTag[] = "QVProgressMessageBox::getUpdate";
constexpr char kThreadTag[] = "QVProgressMessageBox::progressThreadProc";
using qv_progress_detail::kDestructorTag;
constexpr char kStartTag[] = "QVProgressMessageBox::start::<lambda()>";
constexpr char kInitFailedText[] = "An error occurred while initializing Progress Message box";

// The progress thread is started once per process, whichever box asks.
OnceGuard g_start_once;

HANDLE CreateUnnamedManualResetEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

QVProgressMessageBox::QVProgressMessageBox(std::wstring title, std::wstring startingMessage,
                                           uint32_t numberOfStates)
    : title_(std::move(title)),
      startingMessage_(std::move(startingMessage)),
      numberOfStates_(numberOfStates),
      parentWindow_(GetForegroundWindow()) {
  if (!init()) {
    // The destructor does not run for a failed construction.
    progressDialog_.reset();
    if (comInitialized_) CoUninitialize();
    throw std::runtime_error(kInitFailedText);
  }
}

bool QVProgressMessageBox::init() {
  if (title_.empty() || startingMessage_.empty()) {
    PrimitiveLogger::Log(kInitTag, "Title or starting message or Both are empty");
    return false;
  }
  if (numberOfStates_ == 0) {
    PrimitiveLogger::Log(kInitTag, "No of states should be greater than Zero(0)");
    return false;
  }

  updateEvent_.reset(CreateUnnamedManualResetEvent());
  if (!updateEvent_) {
    PrimitiveLogger::Log(kInitTag, "CreateEvent Failed, Error: %lu", GetLastError());
    return false;
  }
  startedEvent_.reset(CreateUnnamedManualResetEvent());
  if (!startedEvent_) {
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
  progressDialog_.reset(dialog);

  progressDialog_.get()->SetTitle(title_.c_str());
  progressDialog_.get()->SetLine(kStartingLine, startingMessage_.c_str(), FALSE, nullptr);
  return true;
}

bool QVProgressMessageBox::start() {
  g_start_once.Run([this] {
    progressTask_ = std::async(std::launch::async, progressThreadProc, this);
    const DWORD wait = WaitForSingleObject(startedEvent_.get(), kStartLimitMs);
    if (wait == WAIT_OBJECT_0) {
      PrimitiveLogger::Log(kStartTag, "Progress window started");
    } else if (wait == WAIT_TIMEOUT) {
      PrimitiveLogger::Log(kStartTag,
                           "Progress window did not start within %lu ms; going on without it",
                           kStartLimitMs);
    } else if (wait == WAIT_FAILED) {
      PrimitiveLogger::Log(kStartTag, "WaitForSingleObject Failed, Error: %lu", GetLastError());
    }
  });
  return true;
}

void QVProgressMessageBox::sendUpdate(std::wstring message) {
  std::lock_guard<std::mutex> guard(queueLock_);
  if (!progressTask_.valid()) return;
  messageQueue_.push_back(std::move(message));
  if (!SetEvent(updateEvent_.get())) {
    PrimitiveLogger::Log("QVProgressMessageBox::sendUpdate", "SetEvent Failed, Error: %lu",
                         GetLastError());
  }
}

bool QVProgressMessageBox::getUpdate(std::wstring& message) {
  for (;;) {
    // A signalled event with an empty queue (after a failed reset) leads
    // back here: the queue is never read while it is empty.
    for (;;) {
      size_t queued = 0;
      {
        std::lock_guard<std::mutex> guard(queueLock_);
        queued = messageQueue_.size();
      }
      if (queued != 0 || finishRequested_.load()) break;

      const DWORD wait = WaitForSingleObject(updateEvent_.get(), kUpdateWaitMs);
      if (wait == WAIT_OBJECT_0) break;
      if (wait == WAIT_TIMEOUT) continue;
      PrimitiveLogger::Log(kGetUpdateTag, "WaitForSingleObject Failed, Error: %lu", wait);
      return false;
    }

    std::unique_lock<std::mutex> guard(queueLock_);
    if (messageQueue_.empty()) {
      if (finishRequested_.load()) {
        message.clear();
        PrimitiveLogger::Log(kGetUpdateTag, "Progress Finish notification received");
        return true;
      }
      // Signalled with nothing queued: clear the signal so that the next
      // wait really waits, and pause instead if it still cannot be cleared.
      const bool cleared = ResetEvent(updateEvent_.get()) != FALSE;
      guard.unlock();
      if (!cleared) Sleep(kUpdateWaitMs);
      continue;
    }
    message = std::move(messageQueue_.front());
    PrimitiveLogger::Log(kGetUpdateTag, "Progress Msg Received: %ls", message.c_str());
    messageQueue_.pop_front();
    if (!ResetEvent(updateEvent_.get())) {
      PrimitiveLogger::Log(kGetUpdateTag, "ResetEvent Failed, Error: %lu", GetLastError());
    }
    return false;
  }
}

void QVProgressMessageBox::progressThreadProc(QVProgressMessageBox* box) {
  IProgressDialog* dialog = box->progressDialog_.get();
  dialog->StartProgressDialog(box->parentWindow_, nullptr, PROGDLG_AUTOTIME, nullptr);
  Sleep(kMessagePauseMs);
  box->setProgressWindowStarted();

  const uint32_t total = box->numberOfStates_;
  std::wstring message;
  for (uint32_t step = 0;;) {
    const bool finished = box->getUpdate(message);
    if (finished) {
      message = kFinishingMessage;
      step = total;
    }
    dialog->SetLine(kMessageLine, message.c_str(), FALSE, nullptr);
    dialog->SetProgress(step, total);
    Sleep(kMessagePauseMs);
    if (finished) {
      PrimitiveLogger::Log(kThreadTag, "Progress Messages Ended before Max Msg limit was reached.");
      break;
    }
    if (++step > total) {
      PrimitiveLogger::Log(kThreadTag, "Progress Messages Exhauted");
      break;
    }
  }
  dialog->StopProgressDialog();
}

void QVProgressMessageBox::setProgressWindowStarted() {
  if (!SetEvent(startedEvent_.get())) {
    PrimitiveLogger::Log("QVProgressMessageBox::setProgressWindowStarted",
                         "SetEvent Failed, Error: %lu", GetLastError());
  }
}

QVProgressMessageBox::~QVProgressMessageBox() {
  finishRequested_.exchange(true);
  WaitForProgressTask(progressTask_, kDestructorTag);

  progressDialog_.reset();
  // Only a successful CoInitialize is balanced: an extra CoUninitialize
  // would undo the logger's own initialisation of COM on this thread.
  if (comInitialized_) CoUninitialize();

  // The events go last, in this order, after the thread that used them.
  updateEvent_.reset();
  startedEvent_.reset();
}
