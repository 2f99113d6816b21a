// Temporary: the query action is not built yet.
#include "actions.h"
#include "json_out.h"

void action_query(const char *, const char *) {
  json_error("not_built_yet", "the query action is not built yet");
}
