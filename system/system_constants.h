// Names, sizes and defaults of the system services: the file-system
// utilities, the temporary installer files, the registry and INI store and
// the system libraries loaded at run time.
#pragma once

#include <windows.h>

#include <cstddef>

namespace system_constants {

// Temporary installer files.
constexpr size_t kTempPathBufferSize = MAX_PATH;  // 260
// GetTempFileNameA puts at most three prefix characters into a name.
constexpr size_t kTempPrefixLength = 3;
// Zero asks GetTempFileNameA to pick the number and create the file.
constexpr UINT kTempUniqueSystemPicked = 0;
// GetTempFileNameA's folder limit: its name (three prefix characters, four
// hexadecimal digits, ".tmp") and the NUL must still fit in MAX_PATH.
constexpr size_t kTempFolderMaxLength = MAX_PATH - 14;
// How often a staged file's name is made anew when the name taken meanwhile
// exists (the system reserves only the placeholder's ".tmp" name).
constexpr int kStagedNameAttempts = 3;

// Registry store.
constexpr int kHiveCurrentUser = 0;
constexpr int kHiveLocalMachine = 1;
constexpr int kHiveClassesRoot = 2;
constexpr DWORD kRegValueBufferSize = 512;

// The helper ships as a 32-bit program, which Windows gives the 32-bit
// registry view without asking; the 64-bit build used for testing asks for
// that view explicitly so that both read and write the same keys.
#ifdef _WIN64
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kRegistryView = 0;
#endif

// INI values are read into a buffer of this many characters, the NUL
// included.
constexpr DWORD kIniBufferSize = 1024;

// System libraries loaded at run time from the system folder (they are not
// KnownDLLs, so the import table must not name them).
constexpr char kVersionLibraryName[] = "version.dll";
constexpr char kMsiLibraryName[] = "msi.dll";
constexpr char kCryptLibraryName[] = "crypt32.dll";
// The ordinals under which msi.dll exports the two Windows Installer queries
// the helper binds by ordinal (see library_calls.cpp).
constexpr WORD kMsiEnumRelatedProductsAOrdinal = 204;
constexpr WORD kMsiGetProductInfoAOrdinal = 67;

// The temporary folder of the programs a run starts, inside its private
// staging folder, when the user's own cannot be used.
constexpr wchar_t kProgramsTempFolderName[] = L"Temp";

}  // namespace system_constants
