// The uninstall and install passes over the per-user components.
#pragma once

class ConfigDrivenState;
class RemediationRun;

enum class PerUserCompMode : int { Install = 0, UnInstall = 1 };

// Runs one pass over the components the version checks found outdated (they
// run once per run, on the first call). Skips the pass when the completion marker is
// set and no re-run is forced. An exception inside the pass ends the pass and
// is logged; one from the version checks or the marker read is thrown.
void HandlePerUserKelvoComponents(ConfigDrivenState& state, RemediationRun& run,
                                  PerUserCompMode mode);

// Stages the replacements of the outdated components, stops the client
// programs, then removes the outdated setup client (from both company
// folders) and launcher, each only when its replacement is staged,
// verified and held.
void UnInstallAllPerUserKelvoComponents(ConfigDrivenState& state, RemediationRun& run);

// Installs the outdated components from their staged installers; a
// successful launcher install sets the completion marker.
void InstallAllPerUserKelvoComponents(ConfigDrivenState& state, RemediationRun& run);
