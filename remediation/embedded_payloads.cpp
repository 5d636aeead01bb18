#include "remediation/embedded_payloads.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

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

// The payload copied whole into one buffer with a zero byte after it.
std::unique_ptr<char[]> CopyWithTrailingZero(const PayloadResource& resource) {
  std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(resource.size) + 1]);
  memcpy(buffer.get(), resource.bytes, resource.size);
  buffer[resource.size] = '\0';
  return buffer;
}

enum class WriteOutcome { NotOpened, Written, ShortWrite };

// Writes the payload in one call. The file is flushed and closed before this
// returns, so that a size read afterwards is the size on disk.
WriteOutcome WritePayload(const PayloadResource& resource, const std::string& name,
                          const std::string& narrowPath) {
  std::unique_ptr<char[]> buffer = CopyWithTrailingZero(resource);
  UniqueFile file(fopen(narrowPath.c_str(), "wb+"));
  if (!file) {
    const int runtimeError = errno;
    const DWORD systemError = GetLastError();
    PrimitiveLogger::Log(kTag, "Unable to open file (%s): %d; WinError:  %ld", narrowPath.c_str(),
                         runtimeError, static_cast<long>(systemError));
    return WriteOutcome::NotOpened;
  }
  const size_t count = fwrite(buffer.get(), 1, resource.size, file.get());
  const bool complete = count == resource.size;
  if (complete) {
    PrimitiveLogger::Log(kTag, "File %s successfully written to  %s\n", name.c_str(),
                         narrowPath.c_str());
  } else {
    PrimitiveLogger::Log(kTag, "Failed to write to the file %s: at:  %s.\n", name.c_str(),
                         narrowPath.c_str());
  }
  buffer.reset();
  fflush(file.get());
  file.reset();
  return complete ? WriteOutcome::Written : WriteOutcome::ShortWrite;
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
  bool written = false;
  try {
    if (FileSysUtils::Exists(targetPath)) {
      PrimitiveLogger::Log(kTag, "Found %s (Size:  %lu) at:  %s", name.c_str(),
                           FileSizeForLog(targetPath), targetPath.c_str());
    }

    PayloadResource resource;
    if (!LoadFileInResource(resourceId, resource)) {
      // Logging keeps the last error: it is still the failed lookup's.
      PrimitiveLogger::Log(kTag, "Unable to locate resource file:  %s; Size:  %ld, Error:  %ld",
                           name.c_str(), static_cast<long>(resource.size),
                           static_cast<long>(GetLastError()));
      return false;
    }

    const WriteOutcome outcome = WritePayload(resource, name, targetPath);
    if (outcome == WriteOutcome::NotOpened) return false;
    written = outcome == WriteOutcome::Written;
    PrimitiveLogger::Log(kTag, "New size of %s:  %lu at:  %s", name.c_str(),
                         FileSizeForLog(targetPath), targetPath.c_str());
  } catch (const std::exception& error) {
    FileSysUtils::LogFileSystemException(kTag, error);
  }
  return written;
}
