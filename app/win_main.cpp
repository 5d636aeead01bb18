// GUI entry point. The helper has no window of its own; it hands the C
// runtime's narrow arguments to the run driver. The DLL search was limited
// to the system folder before any constructor ran (system/dll_search.h).
#include <windows.h>

#include <cstdlib>

#include "app/run_driver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return run_driver::main(__argc, __argv); }
