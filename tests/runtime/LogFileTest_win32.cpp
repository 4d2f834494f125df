// The run log's file on the real Windows file system: the folder made when
// missing, the rotation at the start of a run, whole lines appended.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "GuiPlatform.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(MAX_PATH, temp);
        base_ = std::string(temp) + "kestrin-logfile-test-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(base_.c_str(), nullptr);
        folder_ = base_ + "\\KESTRIN";
        log_ = folder_ + "\\launcher.log";
    }
    void TearDown() override {
        GuiPlatform::CloseLogFile();
        DeleteFileA(log_.c_str());
        DeleteFileA((log_ + ".1").c_str());
        RemoveDirectoryA(folder_.c_str());
        DeleteFileA((base_ + "\\file").c_str());
        RemoveDirectoryA(base_.c_str());
    }
    std::string base_, folder_, log_;
};

TEST_F(LogFileTest, MakesTheFolderAndAppendsWholeLines) {
    ASSERT_TRUE(GuiPlatform::OpenLogFile(folder_.c_str(), "launcher.log", 256 * 1024));
    GuiPlatform::WriteLogLine("one");
    GuiPlatform::CloseLogFile();
    GuiPlatform::WriteLogLine("not written: the log is closed");
    ASSERT_TRUE(GuiPlatform::OpenLogFile(folder_.c_str(), "launcher.log", 256 * 1024));
    GuiPlatform::WriteLogLine("two");
    GuiPlatform::CloseLogFile();
    EXPECT_EQ(ReadAll(log_), "one\r\ntwo\r\n");
}

TEST_F(LogFileTest, ALogOverTheBoundBecomesTheOlderOne) {
    struct Case {
        size_t size;
        bool rotated;
    };
    const Case cases[] = {{100, false}, {256 * 1024, false}, {256 * 1024 + 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        CreateDirectoryA(folder_.c_str(), nullptr);
        WriteAll(log_ + ".1", "older\r\n");
        const std::string old(c.size, 'x');
        WriteAll(log_, old);
        ASSERT_TRUE(GuiPlatform::OpenLogFile(folder_.c_str(), "launcher.log", 256 * 1024));
        GuiPlatform::WriteLogLine("new");
        GuiPlatform::CloseLogFile();
        EXPECT_EQ(ReadAll(log_), c.rotated ? "new\r\n" : old + "new\r\n");
        EXPECT_EQ(ReadAll(log_ + ".1"), c.rotated ? old : "older\r\n");
    }
}

// A line costs the launcher no more than a few milliseconds.
TEST_F(LogFileTest, WritingALineIsCheap) {
    ASSERT_TRUE(GuiPlatform::OpenLogFile(folder_.c_str(), "launcher.log", 256 * 1024));
    const AnsiString line = "2026-12-11 14:03:06.198 kestrin[1234] probe 1 took 1 ms: refused";
    const int kLines = 1000;
    const int64_t start = GuiPlatform::MonotonicMs();
    for (int i = 0; i < kLines; ++i) GuiPlatform::WriteLogLine(line);
    const int64_t took = GuiPlatform::MonotonicMs() - start;
    GuiPlatform::CloseLogFile();
    std::printf("%d lines written in %lld ms\n", kLines, static_cast<long long>(took));
    EXPECT_LT(took, kLines * 2);
    EXPECT_EQ(ReadAll(log_).size(), static_cast<size_t>(kLines) * (line.size() + 2));
}

TEST_F(LogFileTest, AFolderThatCannotBeMadeMeansNoLog) {
    WriteAll(base_ + "\\file", "a file where the folder would go");
    EXPECT_FALSE(GuiPlatform::OpenLogFile((base_ + "\\file\\KESTRIN").c_str(), "launcher.log", 256 * 1024));
    GuiPlatform::WriteLogLine("nowhere");  // does nothing, raises nothing
    EXPECT_FALSE(GuiPlatform::OpenLogFile("", "launcher.log", 256 * 1024));
}

TEST_F(LogFileTest, TheLocalApplicationDataFolderIsKnown) {
    const AnsiString folder = GuiPlatform::LocalAppDataFolder();
    ASSERT_FALSE(folder.empty());
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
