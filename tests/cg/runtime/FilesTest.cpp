// The source-file reader shared by the runtime, heat2d-cg and #include.
#include "cg/front/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

// Names of this process's own in /tmp: other suites run beside this one.
std::string uniqueTemp() { return ::testing::TempDir() + "cgrt-" + std::to_string(getpid()) + "-"; }

std::string writeFile(const std::string& name, const std::string& bytes) {
    std::string path = uniqueTemp() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(CgFiles, RegularFilesUpToTheLimitReadWhole) {
    const std::string bytes("line\r\nnul \0 and \xff\n", 19);
    const struct {
        const char* what;
        std::string content;
    } cases[] = {
        {"empty", ""},
        {"every byte as it is", bytes},
        {"exactly the limit", std::string(cgc::kMaxSourceBytes, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = writeFile("read.cg", c.content);
        std::string text = "left over", error;
        EXPECT_TRUE(cgc::readSourceFile(path, &text, &error)) << error;
        EXPECT_TRUE(text == c.content);
        ::unlink(path.c_str());
    }
}

TEST(CgFiles, WhatCannotBeReadSaysWhy) {
    const std::string fifo = uniqueTemp() + "files-fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = writeFile("big.cg", std::string(cgc::kMaxSourceBytes + 1, 'x'));
    const struct {
        const char* what;
        std::string path;
        std::string error;
    } cases[] = {
        {"missing", uniqueTemp() + "none/x.cg", "No such file or directory"},
        {"FIFO without a writer", fifo, "it is not a regular file (a FIFO)"},
        {"directory", ::testing::TempDir(), "it is not a regular file (a directory)"},
        {"terminal-like device", "/dev/null", "it is not a regular file (a character device)"},
        {"one byte past the limit", big, "it is larger than 16 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = "left over", error;
        EXPECT_FALSE(cgc::readSourceFile(c.path, &text, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(text.empty()) << "kept " << text.size() << " bytes";
    }
    ::unlink(fifo.c_str());
    ::unlink(big.c_str());
}

}  // namespace
