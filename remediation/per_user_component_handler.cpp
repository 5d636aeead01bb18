#include "remediation/per_user_component_handler.h"

#include "app/config_driven_state.h"
#include "logging/primitive_logger.h"

// The passes themselves come with the remediation flows; until then the
// handler only traces that it was called.
void HandlePerUserKelvoComponents(ConfigDrivenState& /*state*/, PerUserCompMode /*mode*/) {
  PrimitiveLogger::Log("HandlePerUserKelvoComponents", ">>>");
}
