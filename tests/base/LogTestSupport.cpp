#include "LogTestSupport.h"

#include "Logger.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const char* const kLogVariables[] = {
    "BRELT_PKCS11_LOG_PATH",    "BRELT_PKCS11_LOG_LEVEL",   "COPYRIGHT_BRELT_PKCS11_P",
    "COPYRIGHT_BRELT_PKCS11_L", "COPYRIGHT_BRELT_PKCS11_T", "COPYRIGHT_BRELT_PKCS11_S",
    "COPYRIGHT_BRELT_PKCS11_D",
};

void ClearLogVariables()
{
    for (const char* name : kLogVariables) unsetenv(name);
}

}  // namespace

void LogTest::SetUp()
{
    CloseLogger();
    ClearLogVariables();
    std::string pattern = (std::filesystem::temp_directory_path() / "brelt-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
}

void LogTest::TearDown()
{
    CloseLogger();
    ClearLogVariables();
    SetLogRecordCipherFactory(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void LogTest::SetVariable(const char* name, const std::string& value)
{
    setenv(name, value.c_str(), 1);
}

std::string LogTest::LogPath(const std::string& name) const
{
    return (folder_ / name).string();
}

void LogTest::StartPlainLog(int level, const std::string& name)
{
    SetVariable("COPYRIGHT_BRELT_PKCS11_P", LogPath(name));
    SetVariable("COPYRIGHT_BRELT_PKCS11_L", std::to_string(level));
    SetVariable("COPYRIGHT_BRELT_PKCS11_T", "0");
    InitLogger();
}

std::string LogTest::BodyAfterClose(const std::string& name)
{
    CloseLogger();
    const std::string text = ReadFile(LogPath(name));
    const std::string bannerEnd = "LOG file rolling strategy: NO ROLLING\n\n";
    const size_t start = text.find(bannerEnd);
    const size_t endBanner = text.rfind("=== END OF LOG ===");
    if (start == std::string::npos || endBanner == std::string::npos) return text;
    // The body stops at the two line feeds written before the closing time stamp.
    const size_t end = text.rfind("\n\n", endBanner);
    const size_t from = start + bannerEnd.size();
    if (end == std::string::npos || end < from) return std::string();
    return text.substr(from, end - from);
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool StartsWithTime(const std::string& line)
{
    if (line.size() < 10) return false;
    for (const size_t digit : {0, 1, 3, 4, 6, 7})
        if (line[digit] < '0' || line[digit] > '9') return false;
    return line[2] == ':' && line[5] == ':' && line.compare(8, 2, "  ") == 0;
}

std::string WithoutTimes(const std::string& text)
{
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        result += StartsWithTime(line) ? line.substr(10) : line;
        start = end;
    }
    return result;
}
