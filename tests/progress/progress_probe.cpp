// Drives one progress box through a scenario and shuts the logger down so
// the test can read the log. Exit codes other than 0 report a failed
// expectation; the test names them.
#include <windows.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "logging/primitive_logger.h"
#include "progress/progress_constants.h"
#include "progress/qv_progress_message_box.h"
#include "tests/support/handle_count.h"
#include "tests/support/stalled_progress_dialog.h"

namespace {

using progress_constants::kNumberOfStates;
using progress_constants::kStartingMessage;
using progress_constants::kTitle;
using test_support::DialogStall;
using test_support::OwnHandleCount;
using test_support::StalledProgressDialogClass;

// Short limits for the stalled dialogs, so that the probe shows in seconds
// what the real ones do.
constexpr ProgressLimits kShortLimits{2000, 5000};
// How long an abandoned thread may take to end once its dialog call returns.
constexpr DWORD kThreadEndMs = 10000;

enum Failure : int {
  kUnknownScenario = 1,
  kNoThrow = 2,
  kWrongText = 3,
  kHandlesLeft = 4,
  kNoHandleCount = 5,
  kNotPlanted = 6,
  kNotStalled = 7,
  kThreadKept = 8,
};

std::unique_ptr<QVProgressMessageBox> MakeBox(ProgressLimits limits = ProgressLimits()) {
  return std::make_unique<QVProgressMessageBox>(kTitle, kStartingMessage, kNumberOfStates, limits);
}

// Each invalid construction throws the documented error and leaves no
// handle behind.
int InvalidBoxes() {
  // The logger's own file is opened by its first line, and Wine keeps two
  // handles from the process's first exception on: neither is a box's.
  PrimitiveLogger::Log("probe", "invalid boxes");
  try {
    throw std::runtime_error("first exception of the process");
  } catch (const std::runtime_error&) {
  }
  const struct {
    const wchar_t* title;
    const wchar_t* message;
    uint32_t states;
  } cases[] = {{L"", kStartingMessage, 5}, {kTitle, L"", 5}, {kTitle, kStartingMessage, 0}};
  for (const auto& c : cases) {
    const DWORD handlesBefore = OwnHandleCount();
    try {
      QVProgressMessageBox box(c.title, c.message, c.states);
      return kNoThrow;
    } catch (const std::runtime_error& error) {
      if (std::strcmp(error.what(), "An error occurred while initializing Progress Message box") !=
          0) {
        return kWrongText;
      }
    }
    if (OwnHandleCount() != handlesBefore) return kHandlesLeft;
  }
  return 0;
}

// A box that shows its dialog and goes leaves no handle behind. A first
// box loads what COM and the dialog keep for the process; the second is
// the one measured.
int BoxHandles() {
  for (int round = 0; round < 2; ++round) {
    const DWORD before = OwnHandleCount();
    if (before == 0) return kNoHandleCount;
    auto box = MakeBox();
    box->start();
    box->sendUpdate(L"counted");
    box.reset();
    const DWORD after = OwnHandleCount();
    if (round == 1 && after != before) {
      PrimitiveLogger::Log("probe", "handles %lu before, %lu after", before, after);
      return kHandlesLeft;
    }
  }
  return 0;
}

// The window in front when the box is made closes before the box starts:
// the dialog comes up on its own.
int OwnerGone() {
  const HWND front = CreateWindowExA(0, "STATIC", "in front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                     0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(front);
  if (front == nullptr || GetForegroundWindow() != front) return kNotPlanted;
  auto box = MakeBox();
  DestroyWindow(front);
  if (IsWindow(front)) return kNotPlanted;
  PrimitiveLogger::Log("probe", "owner 0x%p gone", static_cast<void*>(front));
  box->start();
  box->sendUpdate(L"shown anyway");
  PrimitiveLogger::Log("probe", "destroying");
  box.reset();
  PrimitiveLogger::Log("probe", "destroyed");
  return 0;
}

// A dialog whose start or stop does not return: start() and the
// destruction each return at their limit, messages to a dialog that never
// came up are dropped, and once the stalled call returns the thread ends
// and everything the box had is released.
int Stalled(DialogStall stall) {
  static StalledProgressDialogClass dialogs(stall);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) ||
      !dialogs.Register()) {
    return kNotPlanted;
  }
  PrimitiveLogger::Log("probe", "stalled dialog registered");
  // What COM keeps for the process after its first object is not the box's.
  MakeBox().reset();
  const DWORD before = OwnHandleCount();
  if (before == 0) return kNoHandleCount;

  auto box = MakeBox(kShortLimits);
  box->start();
  PrimitiveLogger::Log("probe", "started");
  box->sendUpdate(L"while stalled or not");
  box.reset();
  PrimitiveLogger::Log("probe", "destroyed");
  if (WaitForSingleObject(dialogs.stalled(), 0) != WAIT_OBJECT_0) return kNotStalled;

  dialogs.ReleaseStalledCalls();
  for (DWORD waited = 0; dialogs.liveDialogs() != 0 && waited < kThreadEndMs; waited += 100) {
    Sleep(100);
  }
  if (dialogs.liveDialogs() != 0) return kThreadKept;
  const DWORD after = OwnHandleCount();
  if (after != before) {
    PrimitiveLogger::Log("probe", "handles %lu before, %lu after", before, after);
    return kHandlesLeft;
  }
  return 0;
}

int Scenario(const std::string& name) {
  if (name == "invalid") return InvalidBoxes();
  if (name == "handles") return BoxHandles();
  if (name == "owner-gone") return OwnerGone();
  if (name == "stalled-start") return Stalled(DialogStall::Start);
  if (name == "stalled-stop") return Stalled(DialogStall::Stop);

  auto box = MakeBox();
  if (name == "no-start") {
    box->sendUpdate(L"never shown");
  } else if (name == "before-start") {
    box->sendUpdate(L"sent before start");
    box->start();
    box->start();  // no second thread
    box->sendUpdate(L"after start");
  } else if (name == "two-quick") {
    box->start();
    box->sendUpdate(L"Uninstalling Setup Client...");
    box->sendUpdate(L"Uninstalling KVAL...");
  } else if (name == "four-stages") {
    // The dialog as a full repair shows it, for the repair's benchmark.
    box->start();
    for (const wchar_t* stage : {L"Uninstalling Setup Client...", L"Uninstalling KVAL...",
                                 L"Installing Setup Client...", L"Installing KVAL..."}) {
      box->sendUpdate(stage);
    }
  } else if (name == "seven") {
    box->start();
    for (int i = 1; i <= 7; ++i) box->sendUpdate(L"message " + std::to_wstring(i));
    // Six messages are shown a second each; the thread then ends by itself.
    Sleep(8000);
  } else {
    return kUnknownScenario;
  }
  PrimitiveLogger::Log("probe", "destroying");
  box.reset();
  PrimitiveLogger::Log("probe", "destroyed");
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int result = Scenario(argc > 1 ? argv[1] : "");
  ShutdownLogger();
  return result;
}
