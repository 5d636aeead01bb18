// Drives one progress box through a scenario in a process of its own (the
// progress thread starts once per process) and shuts the logger down so the
// test can read the log. Exit codes other than 0 report a failed expectation.
#include <windows.h>

#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include "logging/primitive_logger.h"
#include "progress/progress_constants.h"
#include "progress/progress_task.h"
#include "progress/qv_progress_message_box.h"
#include "tests/support/handle_count.h"

namespace {

using progress_constants::kNumberOfStates;
using progress_constants::kStartingMessage;
using progress_constants::kTitle;

std::unique_ptr<QVProgressMessageBox> MakeBox() {
  return std::make_unique<QVProgressMessageBox>(kTitle, kStartingMessage, kNumberOfStates);
}

// Each invalid construction must throw the documented error and leave no
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
    const DWORD handlesBefore = test_support::OwnHandleCount();
    try {
      QVProgressMessageBox box(c.title, c.message, c.states);
      return 2;
    } catch (const std::runtime_error& error) {
      if (std::strcmp(error.what(), "An error occurred while initializing Progress Message box") !=
          0) {
        return 3;
      }
    }
    if (test_support::OwnHandleCount() != handlesBefore) return 4;
  }
  return 0;
}

// What the progress thread throws is logged where the box joins it, and
// goes no further.
int ThrowingTasks() {
  auto standard = std::async(std::launch::async, [] { throw std::runtime_error("dialog gone"); });
  WaitForProgressTask(standard, "probe::join");
  auto other = std::async(std::launch::async, [] { throw 42; });
  WaitForProgressTask(other, "probe::join");
  auto fine = std::async(std::launch::async, [] {});
  WaitForProgressTask(fine, "probe::join");
  std::future<void> empty;
  WaitForProgressTask(empty, "probe::join");
  if (standard.valid() || other.valid() || fine.valid()) return 5;
  PrimitiveLogger::Log("probe", "survived");
  return 0;
}

// A box that comes and goes leaves no handle behind. A first box loads
// what COM keeps for the process; the second is the one measured.
int BoxHandles() {
  MakeBox().reset();
  const DWORD before = test_support::OwnHandleCount();
  if (before == 0) return 7;
  MakeBox().reset();
  const DWORD after = test_support::OwnHandleCount();
  if (after != before) {
    PrimitiveLogger::Log("probe", "handles %lu before, %lu after", before, after);
    return 6;
  }
  return 0;
}

int Scenario(const std::string& name) {
  if (name == "invalid") return InvalidBoxes();
  if (name == "task-throws") return ThrowingTasks();
  if (name == "handles") return BoxHandles();

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
  } else if (name == "seven") {
    box->start();
    for (int i = 1; i <= 7; ++i) box->sendUpdate(L"message " + std::to_wstring(i));
    // Six messages are shown a second each; the thread then ends by itself.
    Sleep(8000);
  } else {
    return 1;
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
