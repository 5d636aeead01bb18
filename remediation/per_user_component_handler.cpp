#include "remediation/per_user_component_handler.h"

#include "logging/primitive_logger.h"
#include "state/config_driven_state.h"

// The passes themselves come with the remediation flows; until then the
// handler only traces that it was called.
void HandlePerUserKelvoComponents(ConfigDrivenState& /*state*/, PerUserCompMode /*mode*/) {
  PrimitiveLogger::Log("HandlePerUserKelvoComponents", ">>>");
}
