// Drives one progress box through a scenario in a process of its own (the
// progress thread starts once per process) and shuts the logger down so the
// test can read the log. Exit codes other than 0 report a failed expectation.
#include <windows.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "logging/primitive_logger.h"
#include "progress/progress_constants.h"
#include "progress/qv_progress_message_box.h"

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
  const struct {
    const wchar_t* title;
    const wchar_t* message;
    uint32_t states;
  } cases[] = {{L"", kStartingMessage, 5}, {kTitle, L"", 5}, {kTitle, kStartingMessage, 0}};
  for (const auto& c : cases) {
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
    try {
      QVProgressMessageBox box(c.title, c.message, c.states);
      return 2;
    } catch (const std::runtime_error& error) {
      if (std::strcmp(error.what(), "An error occurred while initializing Progress Message box") !=
          0) {
        return 3;
      }
    }
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    if (handlesAfter != handlesBefore) return 4;
  }
  return 0;
}

int Scenario(const std::string& name) {
  if (name == "invalid") return InvalidBoxes();

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
