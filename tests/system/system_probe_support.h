// Runs tests/system's probe program and reads the lines it logged.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace system_probe {

struct ProbeRun {
  test_support::ChildResult child;
  // Message parts ("(tag)  message") of the logged lines, banners left out.
  std::vector<std::string> messages;
};

inline ProbeRun RunProbe(const std::string& arguments) {
  ProbeRun run;
  const std::string command =
      "\"" + test_support::TestProgramPath("system_probe.exe") + "\" " + arguments;
  run.child = test_support::RunChild(
      command, [](DWORD pid) { DeleteFileA(test_support::LogPathForPid(pid).c_str()); });
  const auto content = test_support::ReadFileBytes(test_support::LogPathForPid(run.child.pid));
  if (!content) return run;
  for (const std::string& line : test_support::SplitCrLfLines(*content)) {
    const size_t tag = line.find("  (");
    if (tag == std::string::npos || line.find("===Tessaly Remedion") != std::string::npos) continue;
    run.messages.push_back(line.substr(tag + 2));
  }
  DeleteFileA(test_support::LogPathForPid(run.child.pid).c_str());
  return run;
}

}  // namespace system_probe
