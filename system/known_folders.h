// The system folders the program needs, and the Windows Installer program's
// path. Folders come from the environment first, then from the shell.
#pragma once

#include <string>

enum class KnownFolder {
  WinDir = 0,
  ProgramData = 1,
  AppData = 2,
  LocalAppData = 3,
  Public = 4,
  ProgramFilesX86 = 5,
  ProgramW6432 = 6,
};

// The folder followed by one backslash (appended even when the value already
// ends in one), or empty when neither the environment nor the shell names it.
// Read anew on each call. Logs nothing, throws nothing.
std::string GetKnownFolderPath(KnownFolder folder);

// The Windows Installer program, "<WinDir>\System32\MsiExec.exe"; relative
// when the Windows folder is unknown.
std::string GetMsiExecPath();
