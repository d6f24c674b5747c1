#pragma once

#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace wedgecard::test {

// Points the process's log file at a fresh file for one test and switches it on; puts the log
// file back as it was (off, no name) afterwards.
class TLogCapture {
public:
    TLogCapture();
    TLogCapture(const TLogCapture&) = delete;
    TLogCapture& operator=(const TLogCapture&) = delete;
    ~TLogCapture();

    [[nodiscard]] const std::string& FileName() const noexcept { return FFileName; }
    // The messages of the lines written so far: what follows "[time] [thread] ".
    [[nodiscard]] std::vector<std::string> Messages() const;
    // Whether some line's message equals Message.
    [[nodiscard]] bool Contains(const std::string& Message) const;

private:
    TTempFolder FFolder;
    std::string FFileName;
};

}  // namespace wedgecard::test
