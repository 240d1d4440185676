#include "app_config.h"

#include <cerrno>
#include <cstdlib>

namespace inkrow::app {

namespace {

const char* Lookup(const ConfigInput& input, const char* option, const char* variable) {
    for (auto it = input.options.rbegin(); it != input.options.rend(); ++it)
        if (it->first == option) return it->second.c_str();
    const char* value = input.getenv != nullptr ? input.getenv(variable) : nullptr;
    if (value != nullptr) return value;
    for (const auto& [name, setting] : input.fileOptions)
        if (name == option) return setting.c_str();
    return nullptr;
}

// A whole number in [low, high] from an option, or false.
bool ParseLimit(const char* text, long low, long high, int* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool IsLogLevel(const std::string& level) {
    return level == "debug" || level == "info" || level == "warn" || level == "error" ||
           level == "fatal";
}

std::string DefaultStateDirectory(const ConfigInput& input) {
    if (input.root) return "/var/lib/inkrow-printer-app";
    const char* state = input.getenv != nullptr ? input.getenv("XDG_STATE_HOME") : nullptr;
    if (state != nullptr && *state == '/') return std::string(state) + "/inkrow-printer-app";
    const char* home = input.getenv != nullptr ? input.getenv("HOME") : nullptr;
    if (home != nullptr && *home == '/')
        return std::string(home) + "/.local/state/inkrow-printer-app";
    return "";
}

}  // namespace

bool IsLoopbackName(const std::string& name) {
    if (name.empty()) return false;
    if (name[0] == '/') return true;  // a domain socket
    if (name == "localhost" || name == "[::1]" || name == "::1") return true;
    // 127.0.0.0/8, written out as dotted digits
    if (name.rfind("127.", 0) != 0) return false;
    int dots = 0;
    for (char c : name) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots == 3;
}

std::string StateDirectoryFromEnvironment(const char* (*getenv)(const char* name)) {
    const char* value = getenv != nullptr ? getenv("INKROW_STATE_DIR") : nullptr;
    return value != nullptr ? value : "";
}

bool ResolveConfig(const ConfigInput& input, AppConfig* config, std::string* error) {
    *config = AppConfig{};

    const char* state = Lookup(input, "state-dir", "INKROW_STATE_DIR");
    config->stateDirectory = state != nullptr ? state : DefaultStateDirectory(input);
    if (config->stateDirectory.empty()) {
        *error = "no state directory: set INKROW_STATE_DIR or -o state-dir=DIR (HOME is not set)";
        return false;
    }
    while (config->stateDirectory.size() > 1 && config->stateDirectory.back() == '/')
        config->stateDirectory.pop_back();
    config->stateFile = config->stateDirectory + "/inkrow-printer-app.state";

    const char* spool = Lookup(input, "spool-directory", "INKROW_SPOOL_DIR");
    config->spoolDirectory = spool != nullptr ? spool : config->stateDirectory + "/spool";
    if (config->spoolDirectory.empty()) {
        *error = "the spool directory is empty";
        return false;
    }

    const char* log = Lookup(input, "log-file", "INKROW_LOG_FILE");
    config->logFile = log != nullptr ? log : config->stateDirectory + "/inkrow-printer-app.log";
    if (config->logFile.empty()) {
        *error = "the log file is empty (use \"-\" for standard error)";
        return false;
    }

    const char* level = Lookup(input, "log-level", "INKROW_LOG_LEVEL");
    config->logLevel = level != nullptr ? level : "info";
    if (!IsLogLevel(config->logLevel)) {
        *error =
            "unknown log level \"" + config->logLevel + "\" (debug, info, warn, error or fatal)";
        return false;
    }

    const char* listen = Lookup(input, "listen-hostname", "INKROW_LISTEN");
    config->listen = listen != nullptr ? listen : "localhost";
    if (config->listen.empty()) {
        *error = "the listen address is empty";
        return false;
    }
    config->loopbackOnly = IsLoopbackName(config->listen);

    const char* port = Lookup(input, "server-port", "INKROW_PORT");
    if (port != nullptr) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(port, &end, 10);
        if (errno != 0 || end == port || *end != '\0' || value < 0 || value > 65535) {
            *error = std::string("bad port \"") + port + "\" (0 to 65535; 0 picks a free one)";
            return false;
        }
        config->port = static_cast<int>(value);
    }

    const char* outputs = Lookup(input, "output-directories", "INKROW_OUTPUT_DIRS");
    const std::string list = outputs != nullptr ? outputs : config->stateDirectory + "/output";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string directory = list.substr(start, end - start);
        start = end + 1;
        if (directory.empty()) continue;
        while (directory.size() > 1 && directory.back() == '/')
            directory.pop_back();
        if (directory[0] != '/' || directory.find("/../") != std::string::npos ||
            directory.ends_with("/..")) {
            *error = "output directory \"" + directory + "\" is not an absolute path";
            return false;
        }
        config->outputDirectories.push_back(directory);
    }
    if (config->outputDirectories.empty()) {
        *error = "no output directory given";
        return false;
    }

    const char* seconds = Lookup(input, "ghostscript-page-seconds", "INKROW_GS_PAGE_SECONDS");
    if (seconds != nullptr && !ParseLimit(seconds, 1, 86400, &config->ghostscriptPageSeconds)) {
        *error = std::string("bad Ghostscript time limit \"") + seconds + "\" (1 to 86400 s)";
        return false;
    }
    const char* memory = Lookup(input, "ghostscript-memory-mb", "INKROW_GS_MEMORY_MB");
    if (memory != nullptr &&
        !ParseLimit(memory, 64, 1 << 20, &config->ghostscriptMemoryMegabytes)) {
        *error = std::string("bad Ghostscript memory limit \"") + memory + "\" (64 to 1048576 MB)";
        return false;
    }
    return true;
}

}  // namespace inkrow::app
