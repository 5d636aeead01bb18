// The helper's entry point for scenarios about its limits: a short limit on
// an uninstaller's job, so that a scenario can show in seconds what the real
// limit does in minutes, and, when REMEDION_DIALOG_STALL names "start" or
// "stop", a progress dialog whose start or stop never returns.
#include <windows.h>

#include <cstdlib>

#include "app/run_driver.h"
#include "remediation/remediation_run.h"
#include "tests/support/stalled_progress_dialog.h"

namespace {
constexpr DWORD kShortUninstallerJobWaitMs = 8000;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using test_support::DialogStall;
  const DialogStall stall = test_support::DialogStallNamed(std::getenv("REMEDION_DIALOG_STALL"));
  if (stall != DialogStall::None) {
    // COM as the logger initialises it, which then only counts up; the
    // class object lives until the process ends, as its dialogs may.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    static test_support::StalledProgressDialogClass dialogs(stall);
    if (!dialogs.Register()) return 3;
  }
  WaitLimits limits;
  limits.uninstallerJobMs = kShortUninstallerJobWaitMs;
  return run_driver::Run(__argc, __argv, limits);
}
