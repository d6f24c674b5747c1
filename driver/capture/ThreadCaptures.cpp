#include "driver/capture/ThreadCaptures.h"

#include "driver/capture/KeyboardHook.h"
#include "driver/capture/MessageHook.h"

namespace wedgecard {

namespace {

thread_local TThreadCaptures ThisThread;

}  // namespace

TThreadCaptures& TThreadCaptures::Current() noexcept {
    return ThisThread;
}

TKeyboardHook* TThreadCaptures::Next(const TKeyboardHook& Capture) noexcept {
    return Capture.FNextOnThread;
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
