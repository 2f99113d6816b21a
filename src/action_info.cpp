// Temporary: the info action is not built yet.
#include "actions.h"
#include "json_out.h"

void action_info() { json_error("not_built_yet", "the info action is not built yet"); }
