// The server's configuration file: the settings of `server -o NAME=VALUE`, one a line.
//
//   # A comment: a line whose first non-blank character is '#'.
//   listen-hostname = localhost
//   server-port = 8631
//
// NAME is an `-o` setting's name, VALUE the rest of the line without the blanks around
// it (so a path may hold blanks; there is no quoting). `--config FILE`, given to the
// server or to any sub-command, reads it; its settings rank below the `-o` options and
// the environment (app_config.h), so an administrator's file is the base that a command
// line can still override. An installed service runs `server --config
// /etc/inkrow-printer-app.conf`.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace inkrow::app {

using Settings = std::vector<std::pair<std::string, std::string>>;

// Parses a configuration file's text into *settings (in file order). False with *error
// ("line 3: ...") for a line that is not NAME = VALUE, an unknown name, an empty value
// or a name given twice: a mistyped setting must stop the server, not be ignored.
bool ParseConfigText(const std::string& text, Settings* settings, std::string* error);

// Reads and parses the file at path; the error names the file.
bool ReadConfigFile(const std::string& path, Settings* settings, std::string* error);

// Takes `--config FILE` (or `--config=FILE`) out of argv, which PAPPL's main loop would
// refuse as an unknown option, and reads the file. True with *settings empty when the
// option is not there; false for a missing file name, a second --config or a bad file.
// Nothing after "--" (file names) is looked at.
bool TakeConfigOption(int* argc, char** argv, Settings* settings, std::string* error);

// The value of a setting, or nullptr.
const char* FindSetting(const Settings& settings, const char* name);

}  // namespace inkrow::app
