// How much room a folder's volume has left for the current user.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The bytes this user may still write on the volume that holds `folder`
// (an existing folder), quotas included; nothing, with the Win32 error in
// `error`, when that cannot be read. Never throws.
std::optional<ULONGLONG> FreeBytesForUser(const std::wstring& folder, DWORD& error);
