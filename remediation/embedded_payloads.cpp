#include "remediation/embedded_payloads.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <io.h>

#include "logging/primitive_logger.h"
#include "logging/unique_any.h"
#include "remediation/payload_constants.h"
#include "system/file_sys_utils.h"

using namespace payload_constants;

namespace {

constexpr char kTag[] = "WriteResourceToFile";
// What the size messages show for a file whose size cannot be read.
constexpr unsigned long kUnknownSize = ULONG_MAX;

using UniqueFile = UniqueAny<NullableTraits<FILE*, fclose>>;

unsigned long FileSizeForLog(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return kUnknownSize;
  return data.nFileSizeHigh != 0 ? kUnknownSize : static_cast<unsigned long>(data.nFileSizeLow);
}

// Writes the payload through `file` in one call and logs the outcome and the
// size on disk. The last error after a failed write is the write's.
bool WritePayload(const PayloadResource& resource, const std::string& name, const std::string& path,
                  HANDLE file) {
  DWORD written = 0;
  const bool complete =
      WriteFile(file, resource.bytes, resource.size, &written, nullptr) && written == resource.size;
  if (!complete) {
    const DWORD error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_HANDLE_DISK_FULL;
    PrimitiveLogger::Log(kTag, "Failed to write to the file %s: at:  %s.\n", name.c_str(),
                         path.c_str());
    PrimitiveLogger::Log(kTag, "WriteFile wrote %lu of %lu bytes; Error:  %lu", written,
                         resource.size, error);
    SetLastError(error);
    return false;
  }
  PrimitiveLogger::Log(kTag, "File %s successfully written to  %s\n", name.c_str(), path.c_str());
  if (!FlushFileBuffers(file)) {
    const DWORD error = GetLastError();
    PrimitiveLogger::Log(kTag, "Unable to flush %s:  %lu", path.c_str(), error);
    SetLastError(error);
    return false;
  }
  LARGE_INTEGER size = {};
  const unsigned long sizeForLog =
      GetFileSizeEx(file, &size) && size.HighPart == 0 ? size.LowPart : kUnknownSize;
  PrimitiveLogger::Log(kTag, "New size of %s:  %lu at:  %s", name.c_str(), sizeForLog,
                       path.c_str());
  return true;
}

// The payload, or nothing (logged, the last error the lookup's).
bool LoadPayload(uint16_t resourceId, const std::string& name, PayloadResource& resource) {
  if (LoadFileInResource(resourceId, resource)) return true;
  // Logging keeps the last error: it is still the failed lookup's.
  PrimitiveLogger::Log(kTag, "Unable to locate resource file:  %s; Size:  %ld, Error:  %ld",
                       name.c_str(), static_cast<long>(resource.size),
                       static_cast<long>(GetLastError()));
  return false;
}

}  // namespace

bool LoadFileInResource(uint16_t resourceId, PayloadResource& resource) {
  constexpr char kLoadTag[] = "LoadFileInResource";
  resource = {};
  const HMODULE module = GetModuleHandleA(nullptr);
  if (module == nullptr) {
    PrimitiveLogger::Log(kLoadTag, "Unable to get module handle:  %lu", GetLastError());
    return false;
  }
  // A missing resource is not handed to LoadResource, so the error logged is
  // the lookup's own.
  const HRSRC info =
      FindResourceA(module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(kPayloadResourceType));
  const HGLOBAL loaded = info != nullptr ? LoadResource(module, info) : nullptr;
  if (loaded == nullptr) {
    PrimitiveLogger::Log(kLoadTag, "Unable to locate resource:  %lu", GetLastError());
    return false;
  }
  resource.size = SizeofResource(module, info);
  resource.bytes = static_cast<const BYTE*>(LockResource(loaded));
  return resource.bytes != nullptr && resource.size != 0 && resource.bytes[0] != 0;
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
  UniqueFile file(fopen(targetPath.c_str(), "wb+"));
  if (!file) {
    const int runtimeError = errno;
    const DWORD systemError = GetLastError();
    PrimitiveLogger::Log(kTag, "Unable to open file (%s): %d; WinError:  %ld", targetPath.c_str(),
                         runtimeError, static_cast<long>(systemError));
    return false;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
  return WritePayload(resource, name, targetPath, handle);
}

bool WriteResourceToOpenFile(uint16_t resourceId, const std::string& name, const std::string& path,
                             HANDLE file) {
  PayloadResource resource;
  return LoadPayload(resourceId, name, resource) && WritePayload(resource, name, path, file);
}
