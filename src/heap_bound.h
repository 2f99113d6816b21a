// SQLite's memory, held to a bound on what it costs the process.
#pragma once

/// Puts a bound of HEAP_BOUND_BYTES in front of SQLite's allocator,
/// counted as the C library's allocator spends memory: each block with the
/// allocator's own header and rounding, so that millions of small blocks
/// cannot cost twice what SQLite asked for. An allocation that would pass
/// the bound fails, and SQLite answers "out of memory". Must run before
/// SQLite starts; returns false, leaving SQLite's allocator as it is, when
/// SQLite has already started. Later calls do nothing and return what the
/// first returned.
bool install_heap_bound();

/// What all of SQLite's memory may cost the process.
constexpr long long HEAP_BOUND_BYTES = 64LL * 1024 * 1024;
