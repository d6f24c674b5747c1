#include "driver/capture/KeysLogText.h"

namespace wedgecard {

std::string KeysLogText(const TKeys& Keys, int First, int Last) {
    // In the escaped text a "#" that is a character is doubled, so any other "#" begins a code.
    const std::string escaped = Keys.GetText(First, Last, true);
    std::string text;
    text.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '#') {
            text += '*';
        } else if (i + 1 < escaped.size() && escaped[i + 1] == '#') {
            text += '*';
            ++i;
        } else {
            const std::size_t end = escaped.find(';', i);
            if (end == std::string::npos) {
                break;
            }
            text.append(escaped, i, end - i + 1);
            i = end;
        }
    }
    return text;
}

}  // namespace wedgecard
