// Runs of the Windows Installer program for the launcher's removal and
// installation. Windows runs one installation at a time: a run waits while
// another holds the installer, and a log that cannot be opened does not cost
// the run.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Runs msiexec (GetMsiExecPath) with `arguments` in the command-line form,
// waits up to `waitMs` and reads its exit code into `exitCode`. True when
// it was launched, waited for and its exit code read. Before each start it
// waits (up to ten minutes) while another installation holds the installer;
// an exit code of 1622 (the /L log could not be opened) leads to one more run
// without the log switch, and 1618 (another installation started first) to
// further runs within the same ten minutes. Throws as WinProcess's
// construction does when msiexec is missing. `environment` is msiexec's
// environment block (empty: this process's). `beforeFirstStart` runs once,
// when the first run's process has been built and before any wait.
bool RunMsiExec(const std::string& arguments, DWORD waitMs, const std::wstring& environment,
                DWORD& exitCode, const std::function<void()>& beforeFirstStart = {});

// Waits while the Windows Installer's execution mutex is held by another
// installation, up to `limitMs`; logs when a wait begins and how long it
// took.
void WaitForWindowsInstaller(DWORD limitMs);
