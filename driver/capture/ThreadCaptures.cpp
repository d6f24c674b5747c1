#include "driver/capture/ThreadCaptures.h"

#include <algorithm>

#include "driver/capture/KeyboardHook.h"
#include "driver/capture/MessageHook.h"

namespace wedgecard {

namespace {

thread_local TThreadCaptures ThisThread;

}  // namespace

TThreadCaptures& TThreadCaptures::Current() noexcept {
    return ThisThread;
}

void TThreadCaptures::Add(TKeyboardHook& Capture) noexcept {
    Capture.FNextOnThread = FLatestCapture;
    FLatestCapture = &Capture;
}

void TThreadCaptures::Remove(TKeyboardHook& Capture) noexcept {
    for (TKeyboardHook** link = &FLatestCapture; *link != nullptr; link = &(*link)->FNextOnThread) {
        if (*link == &Capture) {
            *link = Capture.FNextOnThread;
            break;
        }
    }
}

bool TThreadCaptures::Has(const TKeyboardHook* Capture) const noexcept {
    for (const TKeyboardHook* capture = FLatestCapture; capture != nullptr;
         capture = capture->FNextOnThread) {
        if (capture == Capture) {
            return true;
        }
    }
    return false;
}

std::vector<TKeyboardHook*> TThreadCaptures::TakingKeys(const TKeyboardHook& Asking) const {
    std::vector<TKeyboardHook*> captures;
    for (TKeyboardHook* capture = FLatestCapture; capture != nullptr;
         capture = capture->FNextOnThread) {
        if (capture == &Asking || capture->Active()) {
            captures.push_back(capture);
        }
    }
    std::reverse(captures.begin(), captures.end());
    return captures;
}

std::int32_t TThreadCaptures::QuietTime(const TKeyboardHook& Asking) const noexcept {
    std::int32_t quiet = Asking.FSensitivity;
    for (const TKeyboardHook* capture = FLatestCapture; capture != nullptr;
         capture = capture->FNextOnThread) {
        if (capture != &Asking && capture->Active()) {
            quiet = std::max(quiet, capture->FSensitivity);
        }
    }
    return std::max(quiet, 0);
}

void TThreadCaptures::CardKeys(const TKeyboardHook& Asking,
                               std::optional<std::vector<std::string>>& Starts,
                               std::optional<std::string>& Ends) const {
    Starts.emplace();
    Ends.emplace();
    for (const TKeyboardHook* capture = FLatestCapture; capture != nullptr;
         capture = capture->FNextOnThread) {
        if (capture != &Asking && !capture->Active()) {
            continue;
        }
        if (!capture->FCardPrefixes) {
            Starts.reset();
        }
        for (const std::string& prefix :
             capture->FCardPrefixes.value_or(std::vector<std::string>())) {
            if (Starts && std::find(Starts->begin(), Starts->end(), prefix) == Starts->end()) {
                Starts->push_back(prefix);
            }
        }
        if (!capture->FCardEnds) {
            Ends.reset();
        }
        for (const char code : capture->FCardEnds.value_or(std::string())) {
            if (Ends && Ends->find(code) == std::string::npos) {
                *Ends += code;
            }
        }
    }
}

const TKeyboardHook* TThreadCaptures::Exclusive() const noexcept {
    for (const TKeyboardHook* capture = FLatestCapture; capture != nullptr;
         capture = capture->FNextOnThread) {
        if (capture->FExclusive && capture->FHook.Active()) {
            return capture;
        }
    }
    return nullptr;
}

void TThreadCaptures::ResumeAll(const TKeyboardHook* Except) noexcept {
    // Resuming can end a burst at once (when no timer can be started), and the host's handler
    // may then let go of captures of this list.
    std::vector<TKeyboardHook*> captures;
    try {
        for (TKeyboardHook* capture = FLatestCapture; capture != nullptr;
             capture = capture->FNextOnThread) {
            if (capture != Except) {
                captures.push_back(capture);
            }
        }
    } catch (...) {
        return;
    }
    for (TKeyboardHook* capture : captures) {
        if (Has(capture)) {
            try {
                capture->Resume();
            } catch (...) {
                // A refused event (no timer could be started): nobody to report it to.
            }
        }
    }
}

void TThreadCaptures::Link(TMessageHook& Hook) noexcept {
    Hook.FPrevious = FLatestHook;
    FLatestHook = &Hook;
}

void TThreadCaptures::Unlink(TMessageHook& Hook) noexcept {
    if (FLatestHook == &Hook) {
        FLatestHook = Hook.FPrevious;
    } else {
        for (TMessageHook* hook = FLatestHook; hook != nullptr; hook = hook->FPrevious) {
            if (hook->FPrevious == &Hook) {
                hook->FPrevious = Hook.FPrevious;
                break;
            }
        }
    }
    Hook.FPrevious = nullptr;
}

bool TThreadCaptures::IsLinked(const TMessageHook* Hook) const noexcept {
    for (const TMessageHook* hook = FLatestHook; hook != nullptr; hook = hook->FPrevious) {
        if (hook == Hook) {
            return true;
        }
    }
    return false;
}

}  // namespace wedgecard
