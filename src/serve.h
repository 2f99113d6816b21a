// Serving one request: the gate, the fields, and the one dispatch point
// that hands the request to the Explorer page or to one action.
#pragma once

/// Serves the request that the environment (and the body, when there is
/// one) describes: writes one complete response to standard output. A
/// request the gate refuses ends the process with status 0 instead.
/// `start_ms` is the plat_ticks_ms value read when the process started:
/// the request's budget counts from it (see budget_begin).
void serve_request(long long start_ms);
