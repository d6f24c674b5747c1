#include "driver/core/EventLogText.h"

#include "driver/core/LumMSRTypes.h"

namespace wedgecard {

std::string EventDataLogText(const std::string& Message, const std::string& Data) {
    if (Message == EventNames[static_cast<std::size_t>(TEventKind::DriverError)]) {
        return Data;
    }
    // Only a card read's data carry track markers; any other (a card's raw characters) shows
    // its length alone.
    if (Message != EventNames[static_cast<std::size_t>(TEventKind::CardRead)] || Data.empty()) {
        return "[" + std::to_string(Data.size()) + "]";
    }
    std::string text;
    std::size_t length = 0;
    bool counting = false;  // a stretch of characters to close with its length
    for (std::size_t i = 0; i < Data.size(); ++i) {
        const bool marker =
            Data[i] == '@' && i + 1 < Data.size() && Data[i + 1] >= '1' && Data[i + 1] <= '9';
        if (!marker) {
            counting = true;
            ++length;
            if (Data[i] == '@' && i + 1 < Data.size() && Data[i + 1] == '@') {
                ++i;
            }
            continue;
        }
        if (counting) {
            text += "[" + std::to_string(length) + "]";
        }
        text += Data.substr(i, 2);
        ++i;
        length = 0;
        counting = true;
    }
    if (counting) {
        text += "[" + std::to_string(length) + "]";
    }
    return text;
}

}  // namespace wedgecard
