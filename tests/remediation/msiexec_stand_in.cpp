// Stands in for MsiExec.exe where a test needs exit codes Wine's own does not
// give (1618 while another installation runs, 1622 when its log cannot be
// opened). Each run appends its command line to the file named by
// REMEDION_MSIEXEC_CALLS and ends with the next code of the comma-separated
// REMEDION_MSIEXEC_EXIT_CODES (the last one repeats).
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main() {
  const char* callsPath = std::getenv("REMEDION_MSIEXEC_CALLS");
  const char* codesText = std::getenv("REMEDION_MSIEXEC_EXIT_CODES");
  if (callsPath == nullptr || codesText == nullptr) return 100;

  size_t earlierCalls = 0;
  {
    std::ifstream calls(callsPath);
    for (std::string line; std::getline(calls, line);) ++earlierCalls;
  }
  std::ofstream(callsPath, std::ios::app) << GetCommandLineA() << "\n";

  std::vector<int> codes;
  std::stringstream list(codesText);
  for (std::string code; std::getline(list, code, ',');) codes.push_back(std::atoi(code.c_str()));
  if (codes.empty()) return 100;
  return codes[earlierCalls < codes.size() ? earlierCalls : codes.size() - 1];
}
