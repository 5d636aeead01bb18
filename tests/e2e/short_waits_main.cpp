// The helper's entry point with a short limit on an uninstaller's job, so
// that a scenario can show in seconds what the real limit does in minutes.
#include <windows.h>

#include <cstdlib>

#include "app/run_driver.h"
#include "remediation/remediation_run.h"

namespace {
constexpr DWORD kShortUninstallerJobWaitMs = 8000;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  WaitLimits limits;
  limits.uninstallerJobMs = kShortUninstallerJobWaitMs;
  return run_driver::Run(__argc, __argv, limits);
}
