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
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    startError_ = GetLastError();
    return;
  }
  UniqueHandle thread(info.hThread);
  process_.reset(info.hProcess);
  pid_ = info.dwProcessId;
}

namespace {

void TerminateIfRunning(HANDLE process) {
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
  }
}

}  // namespace

RunningProgram::~RunningProgram() {
  if (process_) TerminateIfRunning(process_.get());
}

bool RunningProgram::IsRunning(DWORD waitMs) const {
  return process_ && WaitForSingleObject(process_.get(), waitMs) == WAIT_TIMEOUT;
}

bool IsProcessRunning(DWORD pid) {
  const UniqueHandle process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void KillProcess(DWORD pid) {
  const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
  if (process) TerminateIfRunning(process.get());
}

}  // namespace test_support
