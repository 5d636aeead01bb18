// Names, rights, sizes and time limits of process control.
#pragma once

#include <windows.h>

#include <cstddef>

namespace process_constants {

// Job objects are named after the moment they are made, in milliseconds.
constexpr char kJobNamePrefix[] = "Local\\Remedion_";
// 100-ns intervals between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr unsigned long long kUnixEpochAsFileTime = 116444736000000000ull;
constexpr unsigned long long kFileTimeUnitsPerMillisecond = 10000ull;

constexpr DWORD kStillActiveExitCode = STILL_ACTIVE;  // 259
constexpr DWORD kResumeThreadFailed = static_cast<DWORD>(-1);
// A suspended child that could not be placed in its job is ended with this.
constexpr UINT kAbandonedChildExitCode = 1;
constexpr DWORD kAbandonedChildWaitMs = 1000;

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

}  // namespace process_constants
