// A stand-in for one of the client's programs: it has no window, uses no CPU
// and runs until it is terminated, so that the helper's version checks and
// process termination meet a real running program with a real version block.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Blocks for good; only TerminateProcess ends it.
  Sleep(INFINITE);
  return 0;
}
