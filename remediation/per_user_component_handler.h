// The uninstall and install passes over the per-user components.
#pragma once

class ConfigDrivenState;

enum class PerUserCompMode : int { Install = 0, UnInstall = 1 };

// Runs one pass over the components the version checks found outdated (they
// run once, on the first call). Skips the pass when the completion marker is
// set and no re-run is forced. An exception inside the pass ends the pass and
// is logged; one from the version checks or the marker read is thrown.
void HandlePerUserKelvoComponents(ConfigDrivenState& state, PerUserCompMode mode);

// Stops the client programs, then removes the outdated setup client (from
// both company folders) and launcher.
void UnInstallAllPerUserKelvoComponents(ConfigDrivenState& state);

// Installs the outdated components; a successful launcher install sets the
// completion marker.
void InstallAllPerUserKelvoComponents(ConfigDrivenState& state);
