#include "tests/windows/support/PrivateDriver.h"

#include <windows.h>

#include <regex>
#include <stdexcept>

#include "driver/core/untUtils.h"

namespace wedgecard::test {

namespace {

// Another process or module may hold the log open for writing: share everything.
HANDLE OpenShared(const std::string& FileName) {
    return CreateFileA(FileName.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

TPrivateDriver::TPrivateDriver(const std::wstring& Module) {
    if (!CopyFileW(Module.c_str(), ModulePath().c_str(), TRUE)) {
        throw std::runtime_error("the driver module could not be copied");
    }
    FModule = std::make_unique<TDriverModule>(ModulePath());
}

TPrivateDriver::~TPrivateDriver() {
    FModule.reset();
}

std::wstring TPrivateDriver::ModulePath() const {
    // The folder's narrow path is in the system's code page, as the narrow file functions take it.
    const std::string path = FFolder.File("Wedgecard.dll");
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    return wide;
}

bool ParseLogLine(const std::string& Line, TLogLine& Parsed) {
    static const std::regex form(
        R"(\[(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3})\] \[(\d{8,})\] (.*))");
    std::smatch match;
    if (!std::regex_match(Line, match, form)) {
        return false;
    }
    Parsed = {match[1].str(), match[2].str(), match[3].str()};
    return true;
}

void PrintTo(const TLogEntry& Entry, std::ostream* Stream) {
    *Stream << "[" << Entry.Level << "] " << AnsiToUtf8(Entry.Logger) << " "
            << AnsiToUtf8(Entry.Text);
}

TLogTail::TLogTail(std::string FileName)
    : FFileName(std::move(FileName)), FStart(FileSize(FFileName)) {}

std::string TLogTail::Text() const {
    HANDLE file = OpenShared(FFileName);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text;
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(FStart);
    if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        char buffer[65536];
        DWORD read = 0;
        while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            text.append(buffer, read);
        }
    }
    CloseHandle(file);
    return text;
}

std::vector<std::string> TLogTail::Lines() const {
    const std::string text = Text();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos;
         end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> TLogTail::Messages() const {
    std::vector<std::string> messages;
    for (const std::string& line : Lines()) {
        TLogLine parsed;
        messages.push_back(ParseLogLine(line, parsed) ? parsed.Message : "<unparsed> " + line);
    }
    return messages;
}

std::vector<TLogEntry> TLogTail::Entries() const {
    std::vector<TLogEntry> entries;
    for (const std::string& message : Messages()) {
        // "[LEVEL] Logger text"
        TLogEntry entry;
        const std::size_t levelEnd = message.find("] ");
        if (message.empty() || message[0] != '[' || levelEnd == std::string::npos) {
            entry.Text = message;
            entries.push_back(std::move(entry));
            continue;
        }
        entry.Level = message.substr(1, levelEnd - 1);
        const std::string rest = message.substr(levelEnd + 2);
        const std::size_t blank = rest.find(' ');
        entry.Logger = rest.substr(0, blank);
        entry.Text = blank == std::string::npos ? "" : rest.substr(blank + 1);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::uint64_t FileSize(const std::string& FileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(FileName.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string AnsiToUtf8(const std::string& Text) {
    return Utf8(TKBDUtils::ToWide(Text));
}

}  // namespace wedgecard::test
