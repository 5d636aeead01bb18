#include "system/free_space.h"

std::optional<ULONGLONG> FreeBytesForUser(const std::wstring& folder, DWORD& error) {
  error = ERROR_SUCCESS;
  // The first value counts what this user may write (quotas); the total
  // free bytes would promise room the user cannot have.
  ULARGE_INTEGER available{};
  if (GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
  error = GetLastError();
  return std::nullopt;
}
