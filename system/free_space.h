// How much room a folder's volume has left for the current user.
#pragma once

#include <windows.h>

#include <string>

#include "logging/win32_result.h"

// The bytes this user may still write on the volume that holds `folder`
// (an existing folder), quotas included. Logs nothing; never throws.
Win32Result FreeBytesForUser(const std::wstring& folder, ULONGLONG& bytes);
