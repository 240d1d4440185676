// Server settings of the printer application: -o options over the environment over the
// defaults, and refusals that name the bad value.
#include "app_config.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace inkrow::app;

std::map<std::string, std::string>* environment = nullptr;

const char* FakeGetenv(const char* name) {
    auto it = environment->find(name);
    return it == environment->end() ? nullptr : it->second.c_str();
}

class AppConfigTest : public ::testing::Test {
protected:
    void SetUp() override { environment = &variables; }
    void TearDown() override { environment = nullptr; }

    bool Resolve(std::vector<std::pair<std::string, std::string>> options = {}) {
        ConfigInput input;
        input.options = std::move(options);
        input.getenv = FakeGetenv;
        input.root = root;
        return ResolveConfig(input, &config, &error);
    }

    std::map<std::string, std::string> variables;
    bool root = false;
    AppConfig config;
    std::string error;
};

TEST_F(AppConfigTest, DefaultsForAUserStayInTheHomeDirectoryAndOnLoopback) {
    variables["HOME"] = "/home/ann";
    ASSERT_TRUE(Resolve()) << error;
    EXPECT_EQ(config.stateDirectory, "/home/ann/.local/state/inkrow-printer-app");
    EXPECT_EQ(config.spoolDirectory, config.stateDirectory + "/spool");
    EXPECT_EQ(config.stateFile, config.stateDirectory + "/inkrow-printer-app.state");
    EXPECT_EQ(config.logFile, config.stateDirectory + "/inkrow-printer-app.log");
    EXPECT_EQ(config.logLevel, "info");
    EXPECT_EQ(config.listen, "localhost");
    EXPECT_TRUE(config.loopbackOnly);
    EXPECT_EQ(config.port, 0);
}

TEST_F(AppConfigTest, StateDirectoryPrecedence) {
    variables["HOME"] = "/home/ann";
    variables["XDG_STATE_HOME"] = "/xdg";
    ASSERT_TRUE(Resolve());
    EXPECT_EQ(config.stateDirectory, "/xdg/inkrow-printer-app");

    variables["INKROW_STATE_DIR"] = "/tmp/private//";
    ASSERT_TRUE(Resolve());
    EXPECT_EQ(config.stateDirectory, "/tmp/private");
    EXPECT_EQ(config.stateFile, "/tmp/private/inkrow-printer-app.state");

    ASSERT_TRUE(Resolve({{"state-dir", "/opt/a"}, {"state-dir", "/opt/b"}}));
    EXPECT_EQ(config.stateDirectory, "/opt/b");  // the last -o wins

    root = true;
    variables.erase("INKROW_STATE_DIR");
    ASSERT_TRUE(Resolve());
    EXPECT_EQ(config.stateDirectory, "/var/lib/inkrow-printer-app");
}

TEST_F(AppConfigTest, NoHomeAndNoStateDirectoryIsRefused) {
    EXPECT_FALSE(Resolve());
    EXPECT_NE(error.find("INKROW_STATE_DIR"), std::string::npos) << error;
    variables["HOME"] = "relative";
    EXPECT_FALSE(Resolve());
}

TEST_F(AppConfigTest, EnvironmentSettingsAndOptionsOverThem) {
    variables["INKROW_STATE_DIR"] = "/s";
    variables["INKROW_LISTEN"] = "127.0.0.1";
    variables["INKROW_PORT"] = "8631";
    variables["INKROW_LOG_FILE"] = "-";
    variables["INKROW_LOG_LEVEL"] = "debug";
    variables["INKROW_SPOOL_DIR"] = "/spool";
    ASSERT_TRUE(Resolve()) << error;
    EXPECT_EQ(config.listen, "127.0.0.1");
    EXPECT_EQ(config.port, 8631);
    EXPECT_EQ(config.logFile, "-");
    EXPECT_EQ(config.logLevel, "debug");
    EXPECT_EQ(config.spoolDirectory, "/spool");
    ASSERT_TRUE(Resolve({{"listen-hostname", "*"}, {"server-port", "0"}, {"log-level", "warn"}}));
    EXPECT_EQ(config.listen, "*");
    EXPECT_FALSE(config.loopbackOnly);
    EXPECT_EQ(config.port, 0);
    EXPECT_EQ(config.logLevel, "warn");
}

TEST_F(AppConfigTest, BadValuesAreRefusedByName) {
    variables["INKROW_STATE_DIR"] = "/s";
    struct Case {
        const char* option;
        const char* value;
        const char* words;
    } cases[] = {
        {"server-port", "abc", "port"},
        {"server-port", "70000", "port"},
        {"server-port", "-1", "port"},
        {"server-port", "80x", "port"},
        {"server-port", "", "port"},
        {"log-level", "verbose", "verbose"},
        {"listen-hostname", "", "listen"},
        {"log-file", "", "log"},
        {"spool-directory", "", "spool"},
        {"output-directories", "relative/out", "absolute"},
        {"output-directories", "/a/../etc", "absolute"},
        {"output-directories", ":", "no output directory"},
        {"ghostscript-page-seconds", "0", "time limit"},
        {"ghostscript-page-seconds", "5s", "time limit"},
        {"ghostscript-memory-mb", "63", "memory limit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + "=" + c.value);
        EXPECT_FALSE(Resolve({{c.option, c.value}}));
        EXPECT_NE(error.find(c.words), std::string::npos) << error;
    }
}

TEST_F(AppConfigTest, OutputDirectoriesAndGhostscriptLimits) {
    variables["INKROW_STATE_DIR"] = "/s";
    ASSERT_TRUE(Resolve()) << error;
    EXPECT_EQ(config.outputDirectories, std::vector<std::string>{"/s/output"});
    EXPECT_EQ(config.ghostscriptPageSeconds, 120);
    EXPECT_EQ(config.ghostscriptMemoryMegabytes, 2048);
    variables["INKROW_OUTPUT_DIRS"] = "/srv/prints/::/dev/usb/lp0";
    variables["INKROW_GS_PAGE_SECONDS"] = "30";
    ASSERT_TRUE(Resolve({{"ghostscript-memory-mb", "512"}})) << error;
    EXPECT_EQ(config.outputDirectories, (std::vector<std::string>{"/srv/prints", "/dev/usb/lp0"}));
    EXPECT_EQ(config.ghostscriptPageSeconds, 30);
    EXPECT_EQ(config.ghostscriptMemoryMegabytes, 512);
    ASSERT_TRUE(Resolve({{"output-directories", "/only"}})) << error;
    EXPECT_EQ(config.outputDirectories, std::vector<std::string>{"/only"});
}

TEST(AppConfig, LoopbackNames) {
    struct Case {
        const char* name;
        bool loopback;
    } cases[] = {
        {"localhost", true},
        {"127.0.0.1", true},
        {"127.1.2.3", true},
        {"[::1]", true},
        {"::1", true},
        {"/run/x.sock", true},
        {"*", false},
        {"0.0.0.0", false},
        {"192.168.1.20", false},
        {"example.com", false},
        {"127.0.0.1.5", false},
        {"127.a.0.1", false},
        {"", false},
        {"localhost.example", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLoopbackName(c.name), c.loopback) << c.name;
}

TEST(AppConfig, StateDirectoryFromEnvironment) {
    std::map<std::string, std::string> variables{{"INKROW_STATE_DIR", "/x"}};
    environment = &variables;
    EXPECT_EQ(StateDirectoryFromEnvironment(FakeGetenv), "/x");
    variables.clear();
    EXPECT_EQ(StateDirectoryFromEnvironment(FakeGetenv), "");
    environment = nullptr;
    EXPECT_EQ(StateDirectoryFromEnvironment(nullptr), "");
}

}  // namespace
