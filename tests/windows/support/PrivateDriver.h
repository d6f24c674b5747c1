#pragma once

// A copy of the driver module that a test loads for itself, and the log file beside it.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"
#include "tests/windows/support/ComHost.h"

namespace wedgecard::test {

// The driver module copied into a fresh folder and loaded from there without the registry. Its
// log file lies beside it, so what is in that file was written by this test alone (the log of
// the registered module is shared by every test program that runs at the same time, and one
// that holds it open keeps the others out).
class TPrivateDriver {
public:
    explicit TPrivateDriver(const std::wstring& Module);
    TPrivateDriver(const TPrivateDriver&) = delete;
    TPrivateDriver& operator=(const TPrivateDriver&) = delete;
    // Unloads the copy (its objects must be gone by then); the folder goes with it.
    ~TPrivateDriver();

    [[nodiscard]] bool Loaded() const noexcept { return FModule && FModule->Loaded(); }
    [[nodiscard]] ComPtr<ILumMSRKBD1C> Create() { return FModule->Create(); }
    [[nodiscard]] TDriverModule& Module() noexcept { return *FModule; }
    [[nodiscard]] const std::string& Folder() const noexcept { return FFolder.Path(); }
    // The copy's path, for another process to load the same file.
    [[nodiscard]] std::wstring ModulePath() const;
    [[nodiscard]] std::string LogFileName() const { return FFolder.File("Wedgecard.log"); }

private:
    TTempFolder FFolder;
    std::unique_ptr<TDriverModule> FModule;
};

// One line of a driver log, split into its parts.
struct TLogLine {
    std::string TimeStamp;  // "dd.mm.yyyy hh:mm:ss.mmm"
    std::string Thread;     // the decimal thread number as written
    std::string Message;    // "[DEBUG] Name text" or "[ERROR] Name text"
};

// Splits a line of the form "[time stamp] [thread] message"; false when it has another form.
bool ParseLogLine(const std::string& Line, TLogLine& Parsed);

// The message of a line split once more, in CP1251 as written.
struct TLogEntry {
    std::string Level;   // "DEBUG" or "ERROR"
    std::string Logger;  // the logger's name
    std::string Text;    // what follows the logger's name and one blank
    bool operator==(const TLogEntry&) const = default;
};
void PrintTo(const TLogEntry& Entry, std::ostream* Stream);

// The lines appended to a log file from the moment this object is made.
class TLogTail {
public:
    explicit TLogTail(std::string FileName);

    // The bytes appended since.
    [[nodiscard]] std::string Text() const;
    // The whole lines appended since, without their CR LF.
    [[nodiscard]] std::vector<std::string> Lines() const;
    // The message part of each of those lines.
    [[nodiscard]] std::vector<std::string> Messages() const;
    // Each of those messages split into level, logger and text.
    [[nodiscard]] std::vector<TLogEntry> Entries() const;

private:
    std::string FFileName;
    std::uint64_t FStart;
};

// The size of a file; 0 when there is none.
[[nodiscard]] std::uint64_t FileSize(const std::string& FileName);

// Text of the driver's log (Windows-1251) as UTF-8 for a person to read.
[[nodiscard]] std::string AnsiToUtf8(const std::string& Text);

}  // namespace wedgecard::test
