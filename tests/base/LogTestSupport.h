#pragma once
// A private log folder and a clean logging environment for each test.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

class LogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Plain log at `path` with the given level, size rolling off unless set.
    static void SetVariable(const char* name, const std::string& value);
    std::string LogPath(const std::string& name = "pkcs11.log") const;
    // Configures a plain log in the test folder and starts the logger.
    void StartPlainLog(int level, const std::string& name = "pkcs11.log");
    // Everything written after the start banner, logger closed first.
    std::string BodyAfterClose(const std::string& name = "pkcs11.log");

    std::filesystem::path folder_;
};

std::string ReadFile(const std::filesystem::path& path);
std::vector<std::string> SplitLines(const std::string& text);
// True when the line starts with an "hh:mm:ss  " time stamp.
bool StartsWithTime(const std::string& line);
// The text with the time stamps at the start of its lines removed.
std::string WithoutTimes(const std::string& text);
