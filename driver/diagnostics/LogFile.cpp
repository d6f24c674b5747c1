#include "driver/diagnostics/LogFile.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace wedgecard {

namespace {

std::tm LocalTime(std::time_t Seconds) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &Seconds);
#else
    localtime_r(&Seconds, &local);
#endif
    return local;
}

}  // namespace

unsigned long CurrentThreadId() noexcept {
#ifdef _WIN32
    return GetCurrentThreadId();
#else
    return static_cast<unsigned long>(gettid());
#endif
}

TLogFile::TLogFile(std::unique_ptr<TLogFileBackend> Backend) : FBackend(std::move(Backend)) {}

TLogFile::~TLogFile() {
    Close();
}

std::string TLogFile::FileName() const {
    std::lock_guard lock(FLock);
    return FFileName;
}

void TLogFile::SetFileName(const std::string& Value) {
    std::lock_guard lock(FLock);
    if (Value != FFileName) {
        Close();
        FFileName = Value;
    }
}

bool TLogFile::Enabled() const {
    std::lock_guard lock(FLock);
    return FEnabled;
}

void TLogFile::SetEnabled(bool Value) {
    std::lock_guard lock(FLock);
    if (Value != FEnabled) {
        FEnabled = Value;
        Close();
    }
}

bool TLogFile::IsOpen() const {
    std::lock_guard lock(FLock);
    return FOpen;
}

void TLogFile::Open() {
    std::lock_guard lock(FLock);
    if (!FOpen && FBackend && !FFileName.empty()) {
        FOpen = FBackend->Open(FFileName);
    }
}

void TLogFile::Close() {
    std::lock_guard lock(FLock);
    if (FOpen) {
        FBackend->Close();
    }
    FOpen = false;
}

void TLogFile::Write(std::string_view Text) {
    std::lock_guard lock(FLock);
    if (!FEnabled) {
        return;
    }
    Open();
    if (FOpen) {
        FBackend->Write(Text);
    }
}

void TLogFile::WriteLine(std::string_view Message) {
    char thread[32];
    std::snprintf(thread, sizeof thread, "%.8lu", CurrentThreadId());
    std::string line;
    line.reserve(Message.size() + 48);
    line += '[';
    line += FormatTimeStamp();
    line += "] [";
    line += thread;
    line += "] ";
    line += Message;
    line += "\r\n";
    Write(line);
}

void TLogFile::Error(std::string_view Message) {
    WriteLine(std::string("[ERROR] ").append(Message));
}

void TLogFile::Debug(std::string_view Message) {
    WriteLine(std::string("[DEBUG] ").append(Message));
}

std::string TLogFile::FormatTimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    const std::tm local = LocalTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

TLogFile& LogFile() {
    static TLogFile instance;
    return instance;
}

}  // namespace wedgecard
