#include "driver/diagnostics/LogFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver/diagnostics/untLogger.h"
#include "tests/support/Literals.h"
#include "tests/support/TempFolder.h"

namespace {

using wedgecard::CurrentThreadId;
using wedgecard::TLogFile;
using wedgecard::TLogger;
using wedgecard::test::FileExists;
using wedgecard::test::ReadFile;
using wedgecard::test::TTempFolder;
using wedgecard::test::WriteFile;

// "[dd.mm.yyyy hh:mm:ss.mmm] [thread] message"
const std::regex LinePattern(
    R"(\[(\d{2})\.(\d{2})\.(\d{4}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})\] \[(\d{8,})\] (.*))");

struct TLine {
    std::time_t Time = 0;
    std::string Thread;
    std::string Message;
};

// The lines of a log, each ended by CR LF; a line that does not match the layout fails the test.
std::vector<TLine> ParseLines(const std::string& Content) {
    std::vector<TLine> lines;
    std::size_t begin = 0;
    while (begin < Content.size()) {
        const std::size_t end = Content.find("\r\n", begin);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated line: " << Content.substr(begin);
            break;
        }
        const std::string text = Content.substr(begin, end - begin);
        begin = end + 2;
        std::smatch match;
        if (!std::regex_match(text, match, LinePattern)) {
            ADD_FAILURE() << "malformed line: " << text;
            continue;
        }
        std::tm local{};
        local.tm_mday = std::stoi(match[1]);
        local.tm_mon = std::stoi(match[2]) - 1;
        local.tm_year = std::stoi(match[3]) - 1900;
        local.tm_hour = std::stoi(match[4]);
        local.tm_min = std::stoi(match[5]);
        local.tm_sec = std::stoi(match[6]);
        local.tm_isdst = -1;
        lines.push_back({std::mktime(&local), match[8], match[9]});
    }
    return lines;
}

std::vector<std::string> Messages(const std::string& Path) {
    std::vector<std::string> messages;
    for (const TLine& line : ParseLines(ReadFile(Path))) {
        messages.push_back(line.Message);
    }
    return messages;
}

// The thread field as it must read for the given thread: its decimal number, at least 8 digits.
void ExpectThreadField(const std::string& Field, unsigned long Thread) {
    EXPECT_EQ(std::stoul(Field), Thread) << Field;
    EXPECT_EQ(Field.size(), std::max<std::size_t>(8, std::to_string(Thread).size())) << Field;
}

class LogFile : public testing::Test {
protected:
    TTempFolder Folder;
    std::string Path = Folder.File("driver.log");
    TLogFile Log;

    void Enable(const std::string& FileName) {
        Log.SetFileName(FileName);
        Log.SetEnabled(true);
    }
};

TEST_F(LogFile, WritesEachLineWithTimeStampThreadAndLevel) {
    Enable(Path);
    const std::time_t before = std::time(nullptr);
    Log.Debug("TKBDDriver FireEvent");
    Log.Error("TKBDDriver (1) Неверный идентификатор устройства");
    const std::time_t after = std::time(nullptr);

    const std::vector<TLine> lines = ParseLines(ReadFile(Path));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].Message, "[DEBUG] TKBDDriver FireEvent");
    EXPECT_EQ(lines[1].Message, "[ERROR] TKBDDriver (1) Неверный идентификатор устройства");
    for (const TLine& line : lines) {
        // Day, month and year in that order, local time: the stamp reads back as now.
        EXPECT_GE(line.Time, before - 1);
        EXPECT_LE(line.Time, after + 1);
        ExpectThreadField(line.Thread, CurrentThreadId());
    }
}

TEST_F(LogFile, NumbersEachLineWithTheThreadThatWroteIt) {
    Enable(Path);
    unsigned long other = 0;
    std::thread([&] {
        other = CurrentThreadId();
        Log.Debug("from a worker");
    }).join();
    Log.Debug("from the test");

    const std::vector<TLine> lines = ParseLines(ReadFile(Path));
    ASSERT_EQ(lines.size(), 2U);
    ASSERT_NE(other, CurrentThreadId());
    ExpectThreadField(lines[0].Thread, other);
    ExpectThreadField(lines[1].Thread, CurrentThreadId());
}

TEST_F(LogFile, KeepsLinesOfConcurrentWritersWhole) {
    Enable(Path);
    constexpr int Writers = 4;
    constexpr int LinesEach = 200;
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([this, w] {
            for (int i = 0; i < LinesEach; ++i) {
                Log.Debug("writer " + std::to_string(w) + " line " + std::to_string(i));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }

    const std::vector<std::string> messages = Messages(Path);
    EXPECT_EQ(messages.size(), static_cast<std::size_t>(Writers * LinesEach));
    EXPECT_EQ(std::set<std::string>(messages.begin(), messages.end()).size(), messages.size());
}

TEST_F(LogFile, CreatesNoFileWhileDisabled) {
    Log.SetFileName(Path);
    Log.Debug("before it is switched on");
    Log.Error("before it is switched on");
    EXPECT_FALSE(FileExists(Path));
    EXPECT_FALSE(Log.IsOpen());

    Log.SetEnabled(true);
    Log.Debug("while on");
    EXPECT_TRUE(Log.IsOpen());
    Log.SetEnabled(false);
    EXPECT_FALSE(Log.IsOpen());
    Log.Debug("after it is switched off");

    EXPECT_EQ(Messages(Path), std::vector<std::string>{"[DEBUG] while on"});
}

TEST_F(LogFile, OpensAtTheFirstLineAndStaysOpenWhenNameOrSwitchAreSetAgain) {
    Enable(Path);
    EXPECT_FALSE(Log.IsOpen());
    EXPECT_FALSE(FileExists(Path));

    Log.Debug("first");
    EXPECT_TRUE(Log.IsOpen());
    Log.SetFileName(Path);
    Log.SetEnabled(true);
    EXPECT_TRUE(Log.IsOpen());
    Log.Debug("second");

    EXPECT_EQ(Messages(Path), (std::vector<std::string>{"[DEBUG] first", "[DEBUG] second"}));
}

TEST_F(LogFile, ClosesOnANewNameAndWritesTheNextLineToTheNewFile) {
    const std::string other = Folder.File("other.log");
    Enable(Path);
    Log.Debug("to the first file");

    Log.SetFileName(other);
    EXPECT_FALSE(Log.IsOpen());
    EXPECT_EQ(Log.FileName(), other);
    Log.Debug("to the second file");

    EXPECT_EQ(Messages(Path), std::vector<std::string>{"[DEBUG] to the first file"});
    EXPECT_EQ(Messages(other), std::vector<std::string>{"[DEBUG] to the second file"});
}

TEST_F(LogFile, AppendsToAnExistingFileWithoutTruncatingIt) {
    const std::string earlier = "[01.02.2003 04:05:06.007] [00000042] [DEBUG] earlier run\r\n";
    WriteFile(Path, earlier);
    Enable(Path);
    Log.Debug("this run");
    // Reopening after a close appends too.
    Log.SetEnabled(false);
    Log.SetEnabled(true);
    Log.Debug("after reopening");

    const std::string content = ReadFile(Path);
    ASSERT_EQ(content.substr(0, earlier.size()), earlier);
    EXPECT_EQ(Messages(Path), (std::vector<std::string>{"[DEBUG] earlier run", "[DEBUG] this run",
                                                        "[DEBUG] after reopening"}));
}

TEST_F(LogFile, WritesAMessageWithLineBreaksUnchangedFollowedByOneLineEnd) {
    Enable(Path);
    Log.Debug("first\r\nsecond\nthird\r");

    const std::string content = ReadFile(Path);
    const std::string tail = "] [DEBUG] first\r\nsecond\nthird\r\r\n";
    ASSERT_GE(content.size(), tail.size());
    EXPECT_EQ(content.substr(content.size() - tail.size()), tail);
    EXPECT_EQ(content.find("\r\n"), content.find("first") + 5);
}

TEST_F(LogFile, WritesTextAsItsSingleByteCharactersWithoutAByteOrderMark) {
    SKIP_UNLESS_WINDOWS_1251_LITERALS();
    Enable(Path);
    const std::string message = "Ошибок нет";
    ASSERT_EQ(message.size(), 10U);
    Log.Debug(message);

    const std::string content = ReadFile(Path);
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(content.front(), '[');
    EXPECT_EQ(Messages(Path), std::vector<std::string>{"[DEBUG] " + message});
}

TEST_F(LogFile, DropsLinesWhileTheFileCannotBeOpenedAndWritesOnceItCan) {
    const std::string folder = Folder.File("not yet there");
    const std::string path = (std::filesystem::path(folder) / "driver.log").string();
    Enable(path);
    EXPECT_NO_THROW(Log.Debug("dropped"));
    EXPECT_NO_THROW(Log.Error("dropped too"));
    EXPECT_FALSE(Log.IsOpen());
    EXPECT_FALSE(FileExists(path));

    std::filesystem::create_directory(folder);
    Log.Debug("written");
    EXPECT_TRUE(Log.IsOpen());
    EXPECT_EQ(Messages(path), std::vector<std::string>{"[DEBUG] written"});
}

TEST_F(LogFile, DropsLinesWhileItHasNoFileName) {
    Log.SetEnabled(true);
    EXPECT_NO_THROW(Log.Debug("nowhere to go"));
    EXPECT_FALSE(Log.IsOpen());

    Log.SetFileName(Path);
    Log.Debug("written");
    EXPECT_EQ(Messages(Path), std::vector<std::string>{"[DEBUG] written"});
}

// Loggers write through the process's one log file, which each test points at its own file and
// puts back (off, no name) afterwards.
class Logger : public testing::Test {
protected:
    TTempFolder Folder;
    std::string Path = Folder.File("driver.log");

    void SetUp() override {
        wedgecard::LogFile().SetFileName(Path);
        wedgecard::LogFile().SetEnabled(true);
    }

    void TearDown() override {
        wedgecard::LogFile().SetEnabled(false);
        wedgecard::LogFile().SetFileName("");
    }
};

TEST_F(Logger, PutsItsNameBetweenTheLevelAndTheMessage) {
    const TLogger logger("TKBDDriver");
    logger.Debug("FireEvent");
    logger.Error("(3) Событие не посылалось");

    EXPECT_EQ(Messages(Path), (std::vector<std::string>{
                                  "[DEBUG] TKBDDriver FireEvent",
                                  "[ERROR] TKBDDriver (3) Событие не посылалось",
                              }));
}

TEST_F(Logger, WritesAValueAfterTheMessageAndAColon) {
    const TLogger logger("TLumMSRKBD1C");
    logger.Debug("Open(ValuesArray:{})", true);
    logger.Debug("EventProcessed(DeviceID:X, Processed:False)", false);
    logger.Debug("GetLastError(ErrorDescription:Ошибок нет)", std::int32_t{-1});
    logger.Debug("GetVersion", std::string("1.0.0.8"));
    // A literal value is text, not a pointer that happens to be non-null.
    logger.Debug("Open(ValuesArray:{}, DeviceID:X)", "0");

    EXPECT_EQ(Messages(Path),
              (std::vector<std::string>{
                  "[DEBUG] TLumMSRKBD1C Open(ValuesArray:{}): True",
                  "[DEBUG] TLumMSRKBD1C EventProcessed(DeviceID:X, Processed:False): False",
                  "[DEBUG] TLumMSRKBD1C GetLastError(ErrorDescription:Ошибок нет): -1",
                  "[DEBUG] TLumMSRKBD1C GetVersion: 1.0.0.8",
                  "[DEBUG] TLumMSRKBD1C Open(ValuesArray:{}, DeviceID:X): 0",
              }));
}

TEST_F(Logger, WritesNothingAndDoesNotFailWhileTheLogIsOff) {
    wedgecard::LogFile().SetEnabled(false);
    const TLogger logger("TKeyboardHook");
    EXPECT_NO_THROW({
        logger.Debug("FlushMessages: a");
        logger.Debug("Sensitivity", std::int32_t{100});
        logger.Error("(255) failure");
    });
    EXPECT_FALSE(FileExists(Path));
}

}  // namespace
