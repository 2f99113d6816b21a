// SQLite's page cache, grown only as far as a statement's use of it pays.
#pragma once

/// Puts the grown cache in front of SQLite's own page cache. Must run before
/// SQLite starts (before any other SQLite call that starts it); returns
/// false, leaving SQLite's own cache in place, when SQLite has already
/// started. Later calls do nothing and return what the first returned.
bool install_page_cache();
