#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace wedgecard {

// Where the log's bytes go. Opening appends to an existing file and never truncates it.
class TLogFileBackend {
public:
    TLogFileBackend() = default;
    TLogFileBackend(const TLogFileBackend&) = delete;
    TLogFileBackend& operator=(const TLogFileBackend&) = delete;
    virtual ~TLogFileBackend() = default;

    // False when the file cannot be opened; the caller tries again at its next line.
    virtual bool Open(const std::string& FileName) = 0;
    virtual void Write(std::string_view Bytes) = 0;
    virtual void Close() = 0;
};

// The platform's own backend.
[[nodiscard]] std::unique_ptr<TLogFileBackend> CreateLogFileBackend();

// The process's one diagnostic log: opened at the first line written while enabled, appended
// to, closed when its name or switch changes. No operation raises.
class TLogFile {
public:
    explicit TLogFile(std::unique_ptr<TLogFileBackend> Backend = CreateLogFileBackend());
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;
    ~TLogFile();

    [[nodiscard]] std::string FileName() const;
    void SetFileName(const std::string& Value);
    [[nodiscard]] bool Enabled() const;
    void SetEnabled(bool Value);

    [[nodiscard]] bool IsOpen() const;
    void Open();
    void Close();

    void Write(std::string_view Text);
    // "[time stamp] [thread] Message" and CR LF.
    void WriteLine(std::string_view Message);
    void Error(std::string_view Message);
    void Debug(std::string_view Message);

    // Local time as day.month.year hour:minute:second.millisecond.
    [[nodiscard]] static std::string FormatTimeStamp();

private:
    mutable std::recursive_mutex FLock;
    std::unique_ptr<TLogFileBackend> FBackend;
    bool FOpen = false;
    std::string FFileName;
    bool FEnabled = false;
};

// The single instance, created on first use.
TLogFile& LogFile();

// The calling thread's system identifier, as the log lines show it.
[[nodiscard]] unsigned long CurrentThreadId() noexcept;

}  // namespace wedgecard
