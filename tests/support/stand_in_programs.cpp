#include "tests/support/stand_in_programs.h"

#include <cstdlib>
#include <stdexcept>

namespace test_support {

std::string StandInPath(const std::string& folder, const std::string& exeName) {
  const char* payloads = std::getenv("REMEDION_PAYLOADS_DIR");
  if (payloads == nullptr || *payloads == '\0') {
    throw std::runtime_error("environment variable not set: REMEDION_PAYLOADS_DIR");
  }
  return std::string(payloads) + "\\" + folder + "\\" + exeName;
}

RunningProgram::RunningProgram(const std::string& executablePath, const std::string& arguments) {
  std::string line = "\"" + executablePath + "\"";
  if (!arguments.empty()) line += " " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
}

RunningProgram::~RunningProgram() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool RunningProgram::IsRunning(DWORD waitMs) const {
  return process_ != nullptr && WaitForSingleObject(process_, waitMs) == WAIT_TIMEOUT;
}

bool IsProcessRunning(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

void KillProcess(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return;
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
  }
  CloseHandle(process);
}

}  // namespace test_support
