// Rights, sizes, time limits and program names of the termination scan.
#pragma once

#include <windows.h>

#include <cstddef>

namespace termination_constants {

// Termination scan: the process list is read into room for this many ids
// first (8 KiB, more than a desktop runs), and the room doubles while the
// list fills it, up to the ceiling: 4 MiB of ids, hundreds of times what a
// busy terminal server runs. A power of two times the first room.
constexpr size_t kFirstProcessIdCapacity = 2048;
constexpr size_t kProcessIdCeiling = 1048576;
static_assert(kProcessIdCeiling % kFirstProcessIdCapacity == 0 &&
                  ((kProcessIdCeiling / kFirstProcessIdCapacity) &
                   (kProcessIdCeiling / kFirstProcessIdCapacity - 1)) == 0,
              "doubling the first room must reach the ceiling exactly");
// SYNCHRONIZE lets the termination wait for the process to be gone: a wait
// on a handle without it fails at once (WAIT_FAILED, access denied), and the
// uninstaller that follows would meet a program still holding its files.
constexpr DWORD kTerminationAccess =
    PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE;  // 0x100411
constexpr DWORD kImageNameBufferSize = 260;                                         // MAX_PATH
constexpr UINT kTerminationExitCode = 0;
constexpr DWORD kTerminationWaitMs = 1000;

// The client programs that are stopped before their component is replaced.
constexpr char kLauncherProgram[] = "KelvoApplicationLauncher.exe";
constexpr char kSetupClientProgram[] = "KelvoSetupClient.exe";
constexpr char kQuarnelSetupClientProgram[] = "QuarnelSetupClient.exe";
constexpr char kInternetExplorerProgram[] = "iexplore.exe";

}  // namespace termination_constants
