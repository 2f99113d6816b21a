// What the fuzz targets share: capturing what the program writes to
// standard output, checking that it is one complete response, and scratch
// folders that live as long as the fuzzing process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Redirects standard output (the stream and file descriptor 1) into a
/// temporary file for the rest of the process. Call once, at start-up.
void capture_stdout();

/// Everything written to standard output since the last call; the
/// capture starts empty again.
std::string take_stdout();

/// True when `text` is exactly one JSON value (RFC 8259 grammar; string
/// contents are taken as bytes, not checked as UTF-8) with nothing before
/// or after it.
bool is_one_json_value(const std::string &text);

/// True when `out` is one complete response: the JSON header block, one
/// JSON value and a single LF at the end; or the HTML header block and a
/// page ending in "</html>" and LF.
bool is_one_response(const std::string &out);

/// A fresh folder under TMPDIR (or /tmp) for the life of the process,
/// removed when the process exits normally.
std::string scratch_folder(const char *name);

/// Writes `size` bytes to `path`, replacing the file. Aborts on failure.
void write_bytes(const std::string &path, const uint8_t *data, std::size_t size);

/// Runs `sql` on a new database at `path` (read-write). Aborts on failure.
void make_database(const std::string &path, const char *sql);

/// Stops the process with a message on standard error, so that libFuzzer
/// records the input as a finding.
[[noreturn]] void fail(const char *what, const std::string &detail);
