#include "remediation/embedded_payloads.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <io.h>

#include "logging/primitive_logger.h"
#include "logging/owners.h"
#include "remediation/payload_constants.h"
#include "system/file_sys_utils.h"

using namespace payload_constants;

namespace {

constexpr char kTag[] = "WriteResourceToFile";
// What the size messages show for a file whose size cannot be read.
constexpr unsigned long kUnknownSize = ULONG_MAX;

unsigned long FileSizeForLog(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return kUnknownSize;
  return data.nFileSizeHigh != 0 ? kUnknownSize : static_cast<unsigned long>(data.nFileSizeLow);
}

// Writes the payload through `file` in one call and logs the outcome and the
// size on disk.
Win32Result WritePayload(const PayloadResource& resource, const std::string& name,
                         const std::string& path, HANDLE file) {
  DWORD written = 0;
  const bool complete =
      WriteFile(file, resource.bytes, resource.size, &written, nullptr) && written == resource.size;
  if (!complete) {
    // A short write that names no error ran out of room.
    const Win32Result failed = Win32Result::Failed(
        GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_HANDLE_DISK_FULL);
    PrimitiveLogger::Log(kTag, "Failed to write to the file %s: at:  %s.\n", name.c_str(),
                         path.c_str());
    PrimitiveLogger::Log(kTag, "WriteFile wrote %lu of %lu bytes; Error:  %lu", written,
                         resource.size, failed.error());
    return failed;
  }
  PrimitiveLogger::Log(kTag, "File %s successfully written to  %s\n", name.c_str(), path.c_str());
  if (!FlushFileBuffers(file)) {
    const Win32Result failed = Win32Result::LastError();
    PrimitiveLogger::Log(kTag, "Unable to flush %s:  %lu", path.c_str(), failed.error());
    return failed;
  }
  LARGE_INTEGER size = {};
  const unsigned long sizeForLog =
      GetFileSizeEx(file, &size) && size.HighPart == 0 ? size.LowPart : kUnknownSize;
  PrimitiveLogger::Log(kTag, "New size of %s:  %lu at:  %s", name.c_str(), sizeForLog,
                       path.c_str());
  return Win32Result::Ok();
}

// The payload: a resource that is not empty and whose first byte is not
// zero (no installer format begins with one). A failure is logged with the
// lookup's error, or, for a resource that is no payload, with the error the
// lookups left.
Win32Result LoadPayload(uint16_t resourceId, const std::string& name, PayloadResource& resource) {
  const Win32Result located = LoadFileInResource(resourceId, resource);
  if (located && resource.bytes != nullptr && resource.size != 0 && resource.bytes[0] != 0) {
    return located;
  }
  const DWORD error = located ? GetLastError() : located.error();
  PrimitiveLogger::Log(kTag, "Unable to locate resource file:  %s; Size:  %ld, Error:  %ld",
                       name.c_str(), static_cast<long>(resource.size), static_cast<long>(error));
  return Win32Result::Failed(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
}

}  // namespace

Win32Result LoadFileInResource(uint16_t resourceId, PayloadResource& resource) {
  constexpr char kLoadTag[] = "LoadFileInResource";
  resource = {};
  const HMODULE module = GetModuleHandleA(nullptr);
  if (module == nullptr) {
    const Win32Result failed = Win32Result::LastError();
    PrimitiveLogger::Log(kLoadTag, "Unable to get module handle:  %lu", failed.error());
    return failed;
  }
  // A missing resource is not handed to LoadResource, so the error logged is
  // the lookup's own.
  const HRSRC info =
      FindResourceA(module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(kPayloadResourceType));
  const HGLOBAL loaded = info != nullptr ? LoadResource(module, info) : nullptr;
  if (loaded == nullptr) {
    const Win32Result failed = Win32Result::LastError();
    PrimitiveLogger::Log(kLoadTag, "Unable to locate resource:  %lu", failed.error());
    return failed;
  }
  resource.size = SizeofResource(module, info);
  resource.bytes = static_cast<const BYTE*>(LockResource(loaded));
  return Win32Result::Ok();
}

bool WriteResourceToFile(uint16_t resourceId, const std::string& name,
                         const std::string& targetPath) {
  try {
    if (FileSysUtils::Exists(targetPath)) {
      PrimitiveLogger::Log(kTag, "Found %s (Size:  %lu) at:  %s", name.c_str(),
                           FileSizeForLog(targetPath), targetPath.c_str());
    }
  } catch (const std::exception& error) {
    FileSysUtils::LogFileSystemException(kTag, error);
    return false;
  }

  PayloadResource resource;
  if (!LoadPayload(resourceId, name, resource)) return false;
  UniqueCFile file(fopen(targetPath.c_str(), "wb+"));
  if (!file) {
    const int runtimeError = errno;
    const DWORD systemError = GetLastError();
    PrimitiveLogger::Log(kTag, "Unable to open file (%s): %d; WinError:  %ld", targetPath.c_str(),
                         runtimeError, static_cast<long>(systemError));
    return false;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
  return WritePayload(resource, name, targetPath, handle).ok();
}

Win32Result WriteResourceToOpenFile(uint16_t resourceId, const std::string& name,
                                    const std::string& path, HANDLE file) {
  PayloadResource resource;
  const Win32Result loaded = LoadPayload(resourceId, name, resource);
  return loaded ? WritePayload(resource, name, path, file) : loaded;
}
