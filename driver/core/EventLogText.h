#pragma once

#include <string>

namespace wedgecard {

// The data of an event as the log shows it. A driver error's is the driver's own text, shown as
// it is. Any other event's is a card's track data, which must never be stored: each track is
// shown by its length, "@1[14]@2[6]@3[0]" (an "@" doubled inside a track counts once), and data
// of another form by its length alone ("[5]").
[[nodiscard]] std::string EventDataLogText(const std::string& Message, const std::string& Data);

}  // namespace wedgecard
