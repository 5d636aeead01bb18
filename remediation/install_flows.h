// Installation of the current per-user components from the installers
// carried in the program's resources: each is written to a temporary file,
// locked, checked for its signature, run and deleted.
#pragma once

class ConfigDrivenState;

// Installs the launcher package with msiexec. True only when msiexec ran to
// its end with a success code (0, 3010 or 3011).
bool InstallKVALForCurrentUser(ConfigDrivenState& state);

// Installs the setup client with its setup program, silently. True only when
// the program ended with 0 within the time limit.
bool InstallSetupClientForCurrentUser(ConfigDrivenState& state);
