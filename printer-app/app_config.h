// Where a server instance keeps its files and where it listens.
//
// papplMainloop hands the server's `-o NAME=VALUE` options to the system callback; every
// setting also has an environment variable, which the sub-commands that talk to a
// running server read as well (see main.cpp for why the socket follows the state
// directory). An `-o` option wins over the environment, which wins over the server's
// configuration file; without any of them a per-user default applies.
#pragma once

#include <string>
#include <vector>

#include "config_file.h"

namespace inkrow::app {

struct AppConfig {
    std::string stateDirectory;  // holds the state file, the spool and the log
    std::string spoolDirectory;  // stateDirectory + "/spool"
    std::string stateFile;       // stateDirectory + "/inkrow-printer-app.state"
    std::string logFile;         // a path, "-" for standard error, or "syslog"
    std::string logLevel;        // debug, info, warn, error or fatal
    std::string listen;          // host name or address to listen on
    int port = 0;                // 0: the first free port from 8000 + uid % 1000
    bool loopbackOnly = true;    // listen names only this machine's loopback
    // The only places a file: device may write (absolute, without a trailing slash): a
    // directory, where each job gets a file of its own, or a character device.
    std::vector<std::string> outputDirectories;  // default stateDirectory + "/output"
    int ghostscriptPageSeconds = 120;            // how long Ghostscript may take per page
    int ghostscriptMemoryMegabytes = 2048;       // address space Ghostscript may take
};

struct ConfigInput {
    std::vector<std::pair<std::string, std::string>> options;  // the server's -o options
    // The settings of a configuration file (config_file.h), below the environment.
    Settings fileOptions;
    // Environment lookup; returns nullptr for an unset variable.
    const char* (*getenv)(const char* name) = nullptr;
    bool root = false;  // the server runs as root
};

// Resolves the configuration; false with *error set for a bad value (a port that is no
// number, an unknown log level, an empty directory, an output directory that is not an
// absolute path, a limit out of range).
bool ResolveConfig(const ConfigInput& input, AppConfig* config, std::string* error);

// Whether a listen name only reaches this machine: "localhost", 127.x.x.x, [::1] or a
// domain-socket path.
bool IsLoopbackName(const std::string& name);

// The state directory chosen from the environment alone (INKROW_STATE_DIR), or "" when
// it is not set. Sub-commands use it to find a private server's socket.
std::string StateDirectoryFromEnvironment(const char* (*getenv)(const char* name));

}  // namespace inkrow::app
