// The server's configuration file (parsing, --config, its rank below -o and the
// environment) and the default paper chosen from the locale.
#include "config_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app_config.h"
#include "locale_paper.h"

namespace {

using namespace inkrow::app;

std::map<std::string, std::string>* environment = nullptr;

const char* FakeGetenv(const char* name) {
    auto it = environment->find(name);
    return it == environment->end() ? nullptr : it->second.c_str();
}

TEST(ConfigFile, ReadsSettingsAroundCommentsAndBlanks) {
    Settings settings;
    std::string error;
    ASSERT_TRUE(
        ParseConfigText("# the service\n\n  listen-hostname = * \r\n"
                        "\tserver-port=8631\n  # state-dir = /nowhere\n"
                        "output-directories = /srv/my prints:/srv/b\n",
                        &settings, &error))
        << error;
    const Settings expected = {{"listen-hostname", "*"},
                               {"server-port", "8631"},
                               {"output-directories", "/srv/my prints:/srv/b"}};
    EXPECT_EQ(settings, expected);
}

TEST(ConfigFile, RefusesBadLinesNamingThem) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"log-level = info\nlisten-hostname localhost\n", "line 2: expected NAME = VALUE"},
        {"server-prot = 8000\n", "line 1: unknown setting \"server-prot\""},
        {"\n\nlog-file =\n", "line 3: no value for log-file"},
        {"log-level = info\nlog-level = debug\n", "line 2: log-level is set a second time"},
    };
    for (const auto& c : cases) {
        Settings settings;
        std::string error;
        EXPECT_FALSE(ParseConfigText(c.text, &settings, &error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

// --config FILE taken out of the arguments, the file read, and its settings below the
// -o options and the environment.
TEST(ConfigFile, OptionIsTakenOutAndRanksBelowOptionsAndEnvironment) {
    char name[] = "/tmp/inkrow-config-test.XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const std::string text = "server-port = 8631\nstate-dir = /var/lib/app\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    const std::string path = name;
    const struct {
        std::vector<std::string> words, left;
        std::string error;  // empty: taken
    } cases[] = {
        {{"app", "server", "--config", path, "-o", "x=y"}, {"app", "server", "-o", "x=y"}, ""},
        {{"app", "jobs", "--config=" + path, "--", "--config"},
         {"app", "jobs", "--", "--config"},
         ""},
        {{"app", "server", "--config"}, {}, "--config needs a file name"},
        {{"app", "server", "--config="}, {}, "--config needs a file name"},
        {{"app", "--config", path, "server", "--config", path}, {}, "--config is given twice"},
        {{"app", "server", "--config", path + ".none"},
         {},
         "cannot read the configuration file " + path + ".none: No such file"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words = c.words;
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(words.size());
        Settings settings;
        std::string error;
        const bool taken = TakeConfigOption(&argc, argv.data(), &settings, &error);
        EXPECT_EQ(taken, c.error.empty()) << c.error;
        if (!taken) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + argc), c.left);
        EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr);

        std::map<std::string, std::string> variables{{"HOME", "/home/ann"}};
        environment = &variables;
        ConfigInput input;
        input.getenv = FakeGetenv;
        input.fileOptions = settings;
        AppConfig config;
        ASSERT_TRUE(ResolveConfig(input, &config, &error)) << error;
        EXPECT_EQ(config.port, 8631);
        EXPECT_EQ(config.stateDirectory, "/var/lib/app");
        variables["INKROW_PORT"] = "9000";
        input.options = {{"state-dir", "/srv/state"}};
        ASSERT_TRUE(ResolveConfig(input, &config, &error)) << error;
        EXPECT_EQ(config.port, 9000);
        EXPECT_EQ(config.stateDirectory, "/srv/state");
        environment = nullptr;
    }
    std::remove(path.c_str());
}

TEST(LocalePaper, LetterOnlyWhereTheTerritoryUsesIt) {
    constexpr const char* kA4 = "iso_a4_210x297mm";
    constexpr const char* kLetter = "na_letter_8.5x11in";
    const struct {
        const char* lcAll;
        const char* lcPaper;
        const char* lang;
        const char* paper;
    } cases[] = {
        {nullptr, nullptr, nullptr, kA4},
        {nullptr, nullptr, "C", kA4},
        {nullptr, nullptr, "C.UTF-8", kA4},
        {"POSIX", nullptr, "en_US.UTF-8", kA4},
        {nullptr, nullptr, "en", kA4},
        {nullptr, nullptr, "en_US.UTF-8", kLetter},
        {nullptr, nullptr, "en_CA", kLetter},
        {nullptr, nullptr, "fr_CA.UTF-8", kLetter},
        {nullptr, nullptr, "es_MX.ISO-8859-1", kLetter},
        {nullptr, nullptr, "fil_PH", kLetter},
        {nullptr, nullptr, "en_GB.UTF-8", kA4},
        {nullptr, nullptr, "de_DE@euro", kA4},
        {nullptr, nullptr, "es_ES", kA4},
        {nullptr, nullptr, "en_USA", kA4},
        {nullptr, "de_DE.UTF-8", "en_US.UTF-8", kA4},
        {nullptr, "en_US.UTF-8", "de_DE.UTF-8", kLetter},
        {"", "", "en_US", kLetter},
        {"fr_FR", "en_US", "en_US", kA4},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string> variables;
        if (c.lcAll != nullptr) variables["LC_ALL"] = c.lcAll;
        if (c.lcPaper != nullptr) variables["LC_PAPER"] = c.lcPaper;
        if (c.lang != nullptr) variables["LANG"] = c.lang;
        environment = &variables;
        EXPECT_STREQ(PaperSizeForLocale(FakeGetenv), c.paper)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcPaper ? c.lcPaper : "-") << " "
            << (c.lang ? c.lang : "-");
        environment = nullptr;
    }
}

}  // namespace
