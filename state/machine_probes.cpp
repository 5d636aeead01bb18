#include "state/machine_probes.h"

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <mutex>

#include "logging/primitive_logger.h"
#include "logging/owners.h"

namespace {

constexpr DWORD kTokenQueryAccess = TOKEN_QUERY | TOKEN_QUERY_SOURCE;  // 0x18
constexpr char kIntegrityTag[] = "GetCurrentProcessIntegrityLevel";
// Messages logged from inside the one-time computation carry the
// enclosing function's name and the compiler's designation of the lambda.
constexpr char kIntegrityInnerTag[] = "GetCurrentProcessIntegrityLevel::<lambda()>";

int ReadIntegrityLevel() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), kTokenQueryAccess, token.put())) {
    PrimitiveLogger::Log(kIntegrityInnerTag, "Failed to open process access token. ErrorCode = %lu",
                         GetLastError());
    return -1;
  }

  DWORD length = 0;
  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &length) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    PrimitiveLogger::Log(kIntegrityInnerTag,
                         "Failed to get process access token length. ErrorCode = %lu",
                         GetLastError());
    return -1;
  }

  UniqueLocalMemory buffer(LocalAlloc(LMEM_FIXED, length));
  if (!buffer) {
    PrimitiveLogger::Log(kIntegrityInnerTag, "Failed to LocalAlloc. ErrorCode = %d",
                         static_cast<int>(GetLastError()));
    return -1;
  }

  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.get(), length, &length)) {
    PrimitiveLogger::Log(kIntegrityInnerTag, "Failed to get process token. ErrorCode = %lu",
                         GetLastError());
    return -1;
  }

  const auto* label = static_cast<const TOKEN_MANDATORY_LABEL*>(buffer.get());
  const UCHAR count = *GetSidSubAuthorityCount(label->Label.Sid);
  const DWORD rid = count == 0 ? 0 : *GetSidSubAuthority(label->Label.Sid, count - 1);
  PrimitiveLogger::Log(kIntegrityInnerTag, "Got IntegrityLevel = %lu", rid);
  return IntegrityLevelFromRid(rid);
}

}  // namespace

bool ProbeIs64BitOS() {
  // The probe reads the call's last error, and the size query succeeds
  // without touching it: it is cleared first, so that a stale 120 left by
  // an earlier call never reads as a 32-bit Windows.
  SetLastError(ERROR_SUCCESS);
  GetSystemWow64DirectoryA(nullptr, 0);
  return GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
}

bool ProbeIsUserAdmin() { return IsUserAnAdmin() != FALSE; }

int IntegrityLevelFromRid(unsigned long rid) {
  if (rid < SECURITY_MANDATORY_LOW_RID) return 0;
  if (rid < SECURITY_MANDATORY_MEDIUM_RID) return 1;
  if (rid < SECURITY_MANDATORY_HIGH_RID) return 2;
  if (rid < SECURITY_MANDATORY_SYSTEM_RID) return 3;
  if (rid < SECURITY_MANDATORY_PROTECTED_PROCESS_RID) return 4;
  return 5;
}

int GetCurrentProcessIntegrityLevel() {
  const DWORD pid = GetCurrentProcessId();
  PrimitiveLogger::Log(kIntegrityTag, ">>>  GetCurrentProcessIntegrityLevel;  PID = %lu", pid);
  static const int level = [] { return ReadIntegrityLevel(); }();
  PrimitiveLogger::Log(kIntegrityTag,
                       "<<<  ; Calculated Process Integrity Level for Process [%lu] is %d", pid,
                       level);
  return level;
}
