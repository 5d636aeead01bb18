#include "system/folder_tree.h"

#include <string>
#include <vector>

#include "logging/ansi_text.h"
#include "logging/primitive_logger.h"
#include "logging/owners.h"

namespace {

constexpr DWORD kCompareChunkBytes = 64 * 1024;

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

std::wstring WithBackslash(std::wstring folder) {
  if (folder.empty() || folder.back() != L'\\') folder += L'\\';
  return folder;
}

Win32Result Logged(const char* tag, const char* what, const std::wstring& path, DWORD error) {
  if (tag != nullptr)
    PrimitiveLogger::Log(tag, "%s %s:  %lu", what, WideToAnsi(path).c_str(), error);
  return Win32Result::Failed(error);
}

}  // namespace

Win32Result ForEachEntry(const std::wstring& folder, const char* tag, const EntryVisit& visit) {
  WIN32_FIND_DATAW entry = {};
  UniqueFind find(FindFirstFileW((WithBackslash(folder) + L"*").c_str(), &entry));
  if (!find) return Logged(tag, "Unable to list", folder, GetLastError());
  do {
    if (IsDotEntry(entry.cFileName)) continue;
    const Win32Result visited = visit(entry, WithBackslash(folder) + entry.cFileName);
    if (!visited) return visited;
  } while (FindNextFileW(find.get(), &entry));
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) return Logged(tag, "Unable to list", folder, error);
  return Win32Result::Ok();
}

bool IsRealFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         !IsLink(attributes);
}

Win32Result MakeFolderChain(const std::wstring& base, const std::wstring& relative,
                            std::vector<std::wstring>& made, std::wstring& folder,
                            const char* tag) {
  folder = WithBackslash(base);
  std::wstring rest = relative;
  while (!rest.empty()) {
    const size_t separator = rest.find(L'\\');
    folder += rest.substr(0, separator) + L"\\";
    rest = separator == std::wstring::npos ? std::wstring() : rest.substr(separator + 1);
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
      made.push_back(folder);
      continue;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return Logged(tag, "Unable to make", folder, error);
    if (!IsRealFolder(folder)) {
      return Logged(tag, "Not a folder of its own, refused:", folder, ERROR_DIRECTORY);
    }
  }
  return Win32Result::Ok();
}

Win32Result TreeSize(const std::wstring& folder, ULONGLONG& bytes, const char* tag) {
  return ForEachEntry(folder, tag, [&](const WIN32_FIND_DATAW& entry, const std::wstring& path) {
    if (IsLink(entry.dwFileAttributes)) return Logged(tag, "A link in", path, kErrorLinkRefused);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return TreeSize(path, bytes, tag);
    bytes += (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    return Win32Result::Ok();
  });
}

Win32Result CompareFiles(const std::wstring& first, const std::wstring& second, const char* tag) {
  UniqueHandle a(CreateFileW(first.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!a) return Logged(tag, "Unable to read", first, GetLastError());
  UniqueHandle b(CreateFileW(second.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!b) return Logged(tag, "Unable to read", second, GetLastError());
  std::vector<char> left(kCompareChunkBytes);
  std::vector<char> right(kCompareChunkBytes);
  for (;;) {
    DWORD readLeft = 0;
    DWORD readRight = 0;
    if (!ReadFile(a.get(), left.data(), kCompareChunkBytes, &readLeft, nullptr)) {
      return Logged(tag, "Unable to read", first, GetLastError());
    }
    if (!ReadFile(b.get(), right.data(), kCompareChunkBytes, &readRight, nullptr)) {
      return Logged(tag, "Unable to read", second, GetLastError());
    }
    if (readLeft != readRight ||
        std::char_traits<char>::compare(left.data(), right.data(), readLeft) != 0) {
      return Logged(tag, "The copy differs from its source:", second, ERROR_FILE_CORRUPT);
    }
    if (readLeft == 0) return Win32Result::Ok();
  }
}

Win32Result CopyTreeVerified(const std::wstring& from, const std::wstring& to, const char* tag) {
  if (!CreateDirectoryW(to.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return Logged(tag, "Unable to make", to, error);
    if (!IsRealFolder(to))
      return Logged(tag, "Not a folder of its own, refused:", to, ERROR_DIRECTORY);
  }
  return ForEachEntry(from, tag, [&](const WIN32_FIND_DATAW& entry, const std::wstring& source) {
    const std::wstring target = WithBackslash(to) + entry.cFileName;
    if (IsLink(entry.dwFileAttributes)) return Logged(tag, "A link in", source, kErrorLinkRefused);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      return CopyTreeVerified(source, target, tag);
    }
    // A file standing at the target may be read-only (the installer's own
    // files often are); the copy replaces it all the same.
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
      return Logged(tag, "Unable to copy", source, GetLastError());
    }
    return CompareFiles(source, target, tag);
  });
}

Win32Result RemoveTree(const std::wstring& path, const char* tag) {
  std::wstring entry = path;
  while (entry.size() > 3 && entry.back() == L'\\') entry.pop_back();
  const DWORD attributes = GetFileAttributesW(entry.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Win32Result::Ok();
    return Logged(tag, "Unable to remove", entry, error);
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder && !IsLink(attributes)) {
    const Win32Result emptied =
        ForEachEntry(entry, tag, [tag](const WIN32_FIND_DATAW&, const std::wstring& inside) {
          return RemoveTree(inside, tag);
        });
    if (!emptied) return emptied;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
  // RemoveDirectoryW on a folder link removes the link, DeleteFileW on a
  // file link likewise; neither touches the target.
  if (!(folder ? RemoveDirectoryW(entry.c_str()) : DeleteFileW(entry.c_str()))) {
    return Logged(tag, "Unable to remove", entry, GetLastError());
  }
  return Win32Result::Ok();
}
