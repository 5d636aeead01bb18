// A child program for the process tests; the mode word may come anywhere.
//   process_test_child exit <code> <delay ms>   sleeps, then exits with <code>
//   process_test_child spawn <delay ms>         starts "exit 0 <delay ms>" as a
//                                               grandchild and exits at once with
//                                               the grandchild's process id
//   process_test_child env-is <name> <value>    exits with 0 when the variable
//                                               holds the value, else 1
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

constexpr int kUsageError = 100;
constexpr int kSpawnFailed = 101;

int SpawnGrandchild(const char* delayMs) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = "\"" + std::string(self) + "\" exit 0 " + delayMs;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return kSpawnFailed;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(info.dwProcessId);
}

}  // namespace

// The mode word is looked for from argv[0] on: started with a separate
// application name, the command line need not begin with the program path.
int main(int argc, char* argv[]) {
  for (int i = 0; i < argc; ++i) {
    const std::string mode = argv[i];
    if (mode == "exit" && i + 2 < argc) {
      Sleep(static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10)));
      return std::atoi(argv[i + 1]);
    }
    if (mode == "spawn" && i + 1 < argc) return SpawnGrandchild(argv[i + 1]);
    if (mode == "env-is" && i + 2 < argc) {
      char value[MAX_PATH] = {};
      const DWORD length = GetEnvironmentVariableA(argv[i + 1], value, MAX_PATH);
      return length < MAX_PATH && std::string(value, length) == argv[i + 2] ? 0 : 1;
    }
  }
  return kUsageError;
}
