#include "remediation/post_run_activities.h"

#include "app/config_driven_state.h"
#include "logging/primitive_logger.h"

// The result computation comes with the post-run flow; until then this only
// traces that it was called.
void HandlePostRunActivities(ConfigDrivenState& /*state*/) {
  PrimitiveLogger::Log("HandlePostRunActivities", ">>>");
}
