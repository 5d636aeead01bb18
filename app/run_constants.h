// Names and limits of the run driver.
#pragma once

#include <windows.h>

namespace run_constants {

// One run at a time in a logon session: two runs at once would remove and
// install the same components under each other. "Local\" keeps the name to
// the session, so that another user's run on the same machine (another
// session) is not held up.
constexpr char kRunMutexName[] = "Local\\Orvane.UpgradeHelper.Run";
// A run normally takes under a minute; its longest waits (an uninstaller's
// job, 3 minutes each, and msiexec, 20 minutes) end well within this.
constexpr DWORD kOtherRunWaitMs = 30 * 60 * 1000;

}  // namespace run_constants
