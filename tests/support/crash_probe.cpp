// Ends with an unhandled exception: the prefix must let such a program die at
// once instead of holding it in a debugger until its test times out.
#include <windows.h>

int main() {
  RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 0;
}
