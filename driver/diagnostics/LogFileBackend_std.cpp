#include <cstdio>

#include "driver/diagnostics/LogFile.h"

namespace wedgecard {

namespace {

// The C library's append mode: every write lands at the end, nothing is ever truncated.
class TStdLogFileBackend final : public TLogFileBackend {
public:
    ~TStdLogFileBackend() override { Close(); }

    bool Open(const std::string& FileName) override {
        FFile = std::fopen(FileName.c_str(), "ab");
        return FFile != nullptr;
    }

    void Write(std::string_view Bytes) override {
        if (FFile != nullptr) {
            std::fwrite(Bytes.data(), 1, Bytes.size(), FFile);
            std::fflush(FFile);
        }
    }

    void Close() override {
        if (FFile != nullptr) {
            std::fclose(FFile);
            FFile = nullptr;
        }
    }

private:
    std::FILE* FFile = nullptr;
};

}  // namespace

std::unique_ptr<TLogFileBackend> CreateLogFileBackend() {
    return std::make_unique<TStdLogFileBackend>();
}

}  // namespace wedgecard
