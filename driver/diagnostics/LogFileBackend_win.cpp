#include <windows.h>

#include "driver/diagnostics/LogFile.h"

namespace wedgecard {

namespace {

// Others may read the log while it is written, but not write it: a second process that loads
// the driver from the same folder drops its lines instead of interleaving them.
class TWinLogFileBackend final : public TLogFileBackend {
public:
    ~TWinLogFileBackend() override { Close(); }

    bool Open(const std::string& FileName) override {
        FHandle = CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FHandle == INVALID_HANDLE_VALUE) {
            return false;
        }
        SetFilePointer(FHandle, 0, nullptr, FILE_END);
        return true;
    }

    void Write(std::string_view Bytes) override {
        if (FHandle == INVALID_HANDLE_VALUE) {
            return;
        }
        DWORD written = 0;
        WriteFile(FHandle, Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr);
    }

    void Close() override {
        if (FHandle != INVALID_HANDLE_VALUE) {
            CloseHandle(FHandle);
            FHandle = INVALID_HANDLE_VALUE;
        }
    }

private:
    HANDLE FHandle = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<TLogFileBackend> CreateLogFileBackend() {
    return std::make_unique<TWinLogFileBackend>();
}

}  // namespace wedgecard
