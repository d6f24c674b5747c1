#pragma once

#include <string>

#include "driver/capture/Keys.h"

namespace wedgecard {

// Keys First..Last of a burst as the log shows them: the escaped text of TKeys::GetText with
// every character written as "*". A key without a character keeps its code ("#13;"), so the log
// still shows the framing and control keys (Tab, Enter, PageUp, End) and how many characters
// came between them, and nothing a reader or a typist typed. A framing key that types a
// character (";", "?", "%") is written as "*" like any other: the capture does not know which
// keys frame a track, and such a key's code is that of data characters too ("%" is Shift and 5).
[[nodiscard]] std::string KeysLogText(const TKeys& Keys, int First, int Last);

}  // namespace wedgecard
