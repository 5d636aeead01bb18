// Installation of the current per-user components from the installers
// carried in the program's resources: each is run from the file the run
// staged (written once, held, verified) and deleted after its run.
#pragma once

class ConfigDrivenState;
class RemediationRun;

// Installs the launcher package with msiexec, within the run's limit. True
// only when msiexec ran to its end with a success code (0, 3010 or 3011).
bool InstallKVALForCurrentUser(ConfigDrivenState& state, RemediationRun& run);

// Installs the setup client with its setup program, silently. True only when
// the program ended with 0 within the time limit.
bool InstallSetupClientForCurrentUser(ConfigDrivenState& state, RemediationRun& run);
