#include "system/free_space.h"

#include <exception>

#include "logging/ansi_text.h"

std::optional<ULONGLONG> FreeBytesForUser(const std::string& folder, DWORD& error) {
  error = ERROR_SUCCESS;
  try {
    // The first value counts what this user may write (quotas); the total
    // free bytes would promise room the user cannot have.
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExW(AnsiToWide(folder).c_str(), &available, nullptr, nullptr)) {
      return available.QuadPart;
    }
    error = GetLastError();
  } catch (const std::exception&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  return std::nullopt;
}
