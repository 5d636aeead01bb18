// Where the process looks for DLLs that are loaded by name: its own and
// those the system components it uses load for it (COM servers' imports,
// the shell's delay-loaded libraries, crypt providers). A fact of the
// process, set before any constructor runs and kept for it.
#pragma once

#include <windows.h>

struct DllSearchLock {
  enum class Kind {
    // Only the system folder is searched (SetDefaultDllDirectories).
    SystemFolderOnly,
    // The system has no such call: the current folder is taken out of the
    // search, the program's own folder stays in it.
    CurrentFolderDropped,
    // Neither worked; `error` says why.
    NotLocked,
  };
  Kind kind = Kind::NotLocked;
  DWORD error = ERROR_SUCCESS;
};

// Limits the DLL search of the whole process to the system folder. Windows
// searches a program's own folder first for any DLL that is not a KnownDLL,
// and the helper runs from folders its users can write to. A program that
// links this file (every one that calls LogDllSearchLock) has it done for it
// before its first constructor runs, before anything loads a library. Logs
// nothing (the logger is not up yet); the result is kept for
// LogDllSearchLock. Never throws.
DllSearchLock LockDllSearchToSystemFolder() noexcept;

// Logs what LockDllSearchToSystemFolder achieved in this process.
void LogDllSearchLock();
