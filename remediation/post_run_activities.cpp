#include "remediation/post_run_activities.h"

#include "logging/primitive_logger.h"
#include "state/config_driven_state.h"

// The result computation comes with the post-run flow; until then this only
// traces that it was called.
void HandlePostRunActivities(ConfigDrivenState& /*state*/) {
  PrimitiveLogger::Log("HandlePostRunActivities", ">>>");
}
