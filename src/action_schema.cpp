// Temporary: the schema action is not built yet.
#include "actions.h"
#include "json_out.h"

void action_schema(const char *) { json_error("not_built_yet", "the schema action is not built yet"); }
