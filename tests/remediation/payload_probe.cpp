// Writes one of its own resources out in a process of its own, so that the
// test can read the finished log file.
//   payload_probe write <id> <name> <target>   exit 10: written, 11: not
#include <windows.h>

#include <cstdlib>
#include <string>

#include "logging/primitive_logger.h"
#include "remediation/embedded_payloads.h"

int main(int argc, char* argv[]) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "write" || argc != 5) return 99;
  const auto id = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 10));
  const bool written = WriteResourceToFile(id, argv[3], argv[4]);
  ShutdownLogger();
  return written ? 10 : 11;
}
