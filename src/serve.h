// Serving one request: the gate, the fields, and the one dispatch point
// that hands the request to the Explorer page or to one action.
#pragma once

/// Serves the request that the environment (and the body, when there is
/// one) describes: writes one complete response to standard output. A
/// request the gate refuses ends the process with status 0 instead.
void serve_request();
