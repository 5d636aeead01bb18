#include "process/job_names.h"

#include <windows.h>
#include <ntsecapi.h>

#include "logging/primitive_logger.h"
#include "process/process_constants.h"

using namespace process_constants;

std::string TimedJobNames::First() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const long long milliseconds =
      static_cast<long long>((ticks - kUnixEpochAsFileTime) / kFileTimeUnitsPerMillisecond);
  return prefix_ + std::to_string(milliseconds);
}

bool TimedJobNames::Next(const std::string& taken, std::string& next) {
  // RtlGenRandom (advapi32's SystemFunction036) is the generator rand_s and
  // CryptGenRandom draw on.
  unsigned long long bits = 0;
  if (!RtlGenRandom(&bits, sizeof(bits))) {
    PrimitiveLogger::Log("WinProcess::LaunchAsJob", "Unable to make random bits for a job name");
    return false;
  }
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string suffix = "_";
  for (int shift = 60; shift >= 0; shift -= 4) suffix += kHexDigits[(bits >> shift) & 0xF];
  next = taken + suffix;
  return true;
}
