// The end of the remediation: the final result and its alert text.
#pragma once

class ConfigDrivenState;

void HandlePostRunActivities(ConfigDrivenState& state);
