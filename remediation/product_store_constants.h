// Where the helper keeps and finds its own records: the registry key of its
// completion marker and result record, and the desktop client's version
// file.
#pragma once

#include <windows.h>

namespace product_store_constants {

// Under HKEY_CURRENT_USER for the marker and the result record; under
// HKEY_LOCAL_MACHINE for the desktop client's required version.
constexpr char kRemedionKey[] = "SOFTWARE\\TESSALY\\REMEDION";
constexpr char kPerUserCompsFixedValue[] = "PerUserCompsFixed";
constexpr char kMarkerSetText[] = "True";
constexpr char kMarkerUnsetText[] = "False";

// The desktop client's version file under the 32-bit program-files folder.
constexpr char kVersionIniRelativePath[] = "Tessaly\\Kelvo\\TessalyVersion.ini";
constexpr DWORD kVersionIniPathBufferSize = MAX_PATH;  // 260
constexpr char kIniSection[] = "Tessaly";
constexpr char kIniVersionKey[] = "DisplayVersion";
constexpr char kNotInIni[] = "NotInINI";

}  // namespace product_store_constants
