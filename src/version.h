// The program's name and version, as --version and the info action give them.
#pragma once

constexpr char PROGRAM_NAME[] = "plugin_sqlite";
constexpr char PLUGIN_VERSION[] = "1.0.2";
