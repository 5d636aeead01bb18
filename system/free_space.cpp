#include "system/free_space.h"

Win32Result FreeBytesForUser(const std::wstring& folder, ULONGLONG& bytes) {
  // The first value counts what this user may write (quotas); the total
  // free bytes would promise room the user cannot have.
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) {
    return Win32Result::LastError();
  }
  bytes = available.QuadPart;
  return Win32Result::Ok();
}
