#include "tests/support/LogCapture.h"

#include <algorithm>

#include "driver/diagnostics/LogFile.h"

namespace wedgecard::test {

TLogCapture::TLogCapture() : FFileName(FFolder.File("capture.log")) {
    LogFile().SetFileName(FFileName);
    LogFile().SetEnabled(true);
}

TLogCapture::~TLogCapture() {
    LogFile().SetEnabled(false);
    LogFile().SetFileName("");
}

std::vector<std::string> TLogCapture::Messages() const {
    std::vector<std::string> messages;
    const std::string content = ReadFile(FFileName);
    std::size_t begin = 0;
    while (begin < content.size()) {
        std::size_t end = content.find("\r\n", begin);
        if (end == std::string::npos) {
            end = content.size();
        }
        const std::string line = content.substr(begin, end - begin);
        // "[time] [thread] message"
        const std::size_t thread = line.find("] [");
        const std::size_t message =
            thread == std::string::npos ? thread : line.find("] ", thread + 3);
        messages.push_back(message == std::string::npos ? line : line.substr(message + 2));
        begin = end + 2;
    }
    return messages;
}

bool TLogCapture::Contains(const std::string& Message) const {
    const auto messages = Messages();
    return std::find(messages.begin(), messages.end(), Message) != messages.end();
}

}  // namespace wedgecard::test
