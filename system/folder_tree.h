// Folders the helper makes, measures and copies for itself, never following
// a link: a junction or symbolic link planted in a user-writable folder could
// otherwise send a copy or a removal anywhere. Wide paths throughout (the
// exact names), each failure logged under `tag` where it happens (a null tag:
// the caller words it).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "logging/win32_result.h"

// A link met where a real file or folder is required.
constexpr DWORD kErrorLinkRefused = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED

// Whether `path` is a real folder: it exists, is a folder and is not a link.
bool IsRealFolder(const std::wstring& path);

// Calls `visit(entry, path)` for every entry of `folder` but the dot
// entries, links included (they are not followed); stops at the first
// failure `visit` returns.
using EntryVisit =
    std::function<Win32Result(const WIN32_FIND_DATAW& entry, const std::wstring& path)>;
Win32Result ForEachEntry(const std::wstring& folder, const char* tag, const EntryVisit& visit);

// Makes `relative` ("A\\B") below the existing folder `base` (ending in a
// backslash), level by level; a level that exists must be a real folder.
// The levels this call made are appended to `made`, outermost first;
// `folder` receives the innermost, ending in a backslash.
Win32Result MakeFolderChain(const std::wstring& base, const std::wstring& relative,
                            std::vector<std::wstring>& made, std::wstring& folder, const char* tag);

// The bytes of every file below `folder`; a link anywhere below it is
// refused (kErrorLinkRefused).
Win32Result TreeSize(const std::wstring& folder, ULONGLONG& bytes, const char* tag);

// Copies every file and folder below `from` into `to` (made when missing;
// files there of the same names are replaced), each copy read back and
// compared with its source. A link below `from` is refused, as is a
// difference between a copy and its source (ERROR_FILE_CORRUPT).
Win32Result CopyTreeVerified(const std::wstring& from, const std::wstring& to, const char* tag);

// Removes `path` and everything below it; links are removed, never
// entered, and read-only files go as well. A missing path is no failure.
Win32Result RemoveTree(const std::wstring& path, const char* tag);

// Whether two files hold the same bytes.
Win32Result CompareFiles(const std::wstring& first, const std::wstring& second, const char* tag);
