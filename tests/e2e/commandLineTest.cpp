// heat2d's command line, run as a process: usage, a wrong option, no X
// display, and GLUT's own options, which still reach GLUT.
#include "tests/support/AppRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `environment` goes before the program (e.g. "env -u DISPLAY").
Outcome runHeat2d(const std::string& environment, const std::string& arguments) {
    const std::string stem = ::testing::TempDir() + "heat2d-cmdline-" + std::to_string(getpid());
    Outcome o;
    runCommand("cd /tmp && timeout 20 " + environment + " '" HEAT2D_BINARY "' " + arguments + " >'" + stem + ".out' 2>'" +
                   stem + ".err'; echo $? >'" + stem + ".status'",
               nullptr);
    o.status = std::stoi("0" + readAll(stem + ".status"));
    o.out = readAll(stem + ".out");
    o.err = readAll(stem + ".err");
    runCommand("rm -f '" + stem + ".out' '" + stem + ".err' '" + stem + ".status'");
    return o;
}

TEST(CommandLine, helpUnknownOptionsAndNoDisplayEachSayWhatTheyShould) {
    const struct {
        const char* environment;
        const char* arguments;
        int status;
        const char* out;  // a regular expression for the whole of standard output
        const char* err;  // ... and of standard error
    } rows[] = {
        // Without a display: usage needs no window.
        {"env -u DISPLAY", "--help", 0, "usage: heat2d [^]*HeatShader\\.cg[^]*", ""},
        {"env -u DISPLAY", "-h", 0, "usage: heat2d [^]*", ""},
        {"", "--bogus", 2, "", "heat2d: unknown option '--bogus'\nusage: heat2d [^]*"},
        {"", "-geometry", 2, "", "heat2d: -geometry needs a value\nusage: heat2d [^]*"},
        {"", "HeatShader.cg", 2, "", "heat2d: unexpected argument 'HeatShader.cg'; heat2d takes no file\nusage: [^]*"},
        {"env -u DISPLAY", "", 1, "", "heat2d: needs an X display, and DISPLAY is unset\n"},
        {"env DISPLAY=", "", 1, "", "heat2d: needs an X display, and DISPLAY is unset\n"},
        {"env DISPLAY=:4711", "-sync", 1, "", "heat2d: needs an X display, and DISPLAY ':4711' cannot be opened\n"},
        {"", "-display :4711", 1, "", "heat2d: needs an X display, and -display ':4711' cannot be opened\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.environment) + " heat2d " + row.arguments);
        const Outcome o = runHeat2d(row.environment, row.arguments);
        EXPECT_EQ(o.status, row.status);
        EXPECT_TRUE(std::regex_match(o.out, std::regex(row.out))) << o.out;
        EXPECT_TRUE(std::regex_match(o.err, std::regex(row.err))) << o.err;
    }
}

// Every key of the README's key table, and the programs and file it names.
TEST(CommandLine, usageNamesTheReadmesKeysTheShaderFileAndTheChecker) {
    const std::string usage = runHeat2d("env -u DISPLAY", "--help").out;
    std::ifstream in(HEAT2D_SOURCE_DIR "/README.md");
    std::regex keyRow("^\\| `([^`]+)` \\|.*");
    int keys = 0;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, keyRow)) continue;
        ++keys;
        EXPECT_NE(usage.find("\n  " + m[1].str() + " "), std::string::npos) << "no key " << m[1] << " in\n" << usage;
    }
    EXPECT_GE(keys, 2) << "no key table found in the README";
    for (const char* word : {"HeatShader.cg", "working", "heat2d-cg", "-display", "-geometry"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}

TEST(CommandLine, glutsOwnOptionsStillReachGlut) {
    AppRun::Options options;
    options.arguments = {"-display", std::getenv("DISPLAY"), "-geometry", "300x200+40+30", "-sync"};
    AppRun app(options);
    ASSERT_NE(app.waitForWindow(), 0u) << app.output();
    EXPECT_TRUE(waitUntil([&] { return app.geometry().width == 300 && app.geometry().height == 200; }, 5))
        << app.geometry().width << " x " << app.geometry().height;
    app.key("Escape");
    EXPECT_EQ(app.waitForExit(10), 0) << app.output();
}

}  // namespace
