// Rights, sizes, time limits and program names of the termination scan.
#pragma once

#include <windows.h>

#include <cstddef>

namespace termination_constants {

// Termination scan: a snapshot of at most 2048 process ids.
constexpr size_t kProcessIdBufferBytes = 8192;
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
