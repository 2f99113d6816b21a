// The file layer every database of a request is opened through: the
// platform's own, with its system calls guarded (see plat_sqlite_syscalls),
// and two changes of its own:
// - a wait for a lock that another process holds (SQLite's retries for the
//   read locks of a WAL database, as well as the busy handler) is noted,
//   so that a hard stop inside it is told as a locked database;
// - a WAL database that no other program has open reads its log through an
//   index of the log in private memory, which SQLite builds from the -wal
//   file itself: the -shm file beside it is neither created, nor opened,
//   nor rewritten. A database another program has open shares its -wal
//   and -shm as usual.
#pragma once

/// Registers the file layer (once) and returns its name, to be handed to
/// sqlite3_open_v2; null when it could not be registered.
const char *guarded_vfs_name();
