// GUI entry point. The helper has no window of its own; it hands the C
// runtime's narrow arguments to the run driver.
#include <windows.h>

#include <cstdlib>

#include "app/run_driver.h"
#include "system/dll_search.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // First: nothing may load a DLL by name before the search is limited.
  LockDllSearchToSystemFolder();
  return run_driver::main(__argc, __argv);
}
