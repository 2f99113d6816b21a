// Temporary: discovery is not built yet.
#include "actions.h"
#include "json_out.h"

void action_dbs() { json_error("not_built_yet", "the dbs action is not built yet"); }
