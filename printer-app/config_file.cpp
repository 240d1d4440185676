#include "config_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace inkrow::app {

namespace {

// Every setting the server takes as `-o NAME=VALUE` (app_config.cpp reads them).
constexpr const char* kSettingNames[] = {
    "state-dir",          "spool-directory",          "log-file",
    "log-level",          "listen-hostname",          "server-port",
    "output-directories", "ghostscript-page-seconds", "ghostscript-memory-mb",
};

bool IsSettingName(const std::string& name) {
    for (const char* known : kSettingNames)
        if (name == known) return true;
    return false;
}

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool ParseConfigText(const std::string& text, Settings* settings, std::string* error) {
    settings->clear();
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string content = Trim(line);
        if (content.empty() || content[0] == '#') continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::size_t equals = content.find('=');
        if (equals == std::string::npos) {
            *error = where + "expected NAME = VALUE, found \"" + content + "\"";
            return false;
        }
        const std::string name = Trim(content.substr(0, equals));
        const std::string value = Trim(content.substr(equals + 1));
        if (!IsSettingName(name)) {
            std::string known;
            for (const char* each : kSettingNames)
                known += (known.empty() ? "" : ", ") + std::string(each);
            *error = where + "unknown setting \"" + name + "\" (known: " + known + ")";
            return false;
        }
        if (value.empty()) {
            *error = where + "no value for " + name + " (leave the line out for the default)";
            return false;
        }
        if (FindSetting(*settings, name.c_str()) != nullptr) {
            *error = where + name + " is set a second time";
            return false;
        }
        settings->emplace_back(name, value);
    }
    return true;
}

bool ReadConfigFile(const std::string& path, Settings* settings, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read the configuration file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        *error = "cannot read the configuration file " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!ParseConfigText(text.str(), settings, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool TakeConfigOption(int* argc, char** argv, Settings* settings, std::string* error) {
    settings->clear();
    std::string path;
    bool found = false;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--") == 0) {
            while (i < *argc)
                argv[kept++] = argv[i++];
            break;
        }
        const bool separate = std::strcmp(argument, "--config") == 0;
        const bool joined = std::strncmp(argument, "--config=", 9) == 0;
        if (!separate && !joined) {
            argv[kept++] = argv[i];
            continue;
        }
        if (found) {
            *error = "--config is given twice";
            return false;
        }
        if (separate && i + 1 >= *argc) {
            *error = "--config needs a file name";
            return false;
        }
        path = separate ? argv[++i] : argument + 9;
        if (path.empty()) {
            *error = "--config needs a file name";
            return false;
        }
        found = true;
    }
    *argc = kept;
    argv[kept] = nullptr;
    return !found || ReadConfigFile(path, settings, error);
}

const char* FindSetting(const Settings& settings, const char* name) {
    for (const auto& [key, value] : settings)
        if (key == name) return value.c_str();
    return nullptr;
}

}  // namespace inkrow::app
