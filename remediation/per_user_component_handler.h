// The uninstall and install passes over the per-user components.
#pragma once

class ConfigDrivenState;

enum class PerUserCompMode : int { Install = 0, UnInstall = 1 };

void HandlePerUserKelvoComponents(ConfigDrivenState& state, PerUserCompMode mode);
