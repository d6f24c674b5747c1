#include "driver/capture/MessageHook.h"

#include <stdexcept>
#include <string>

namespace wedgecard {

namespace {

// Active objects of this thread, the most recently activated first (linked through FPrevious).
thread_local TMessageHook* CurrentHook = nullptr;

// How deep the calling thread is inside CallNextHookEx of this procedure. With several of our
// hooks installed, the system calls the procedure once per hook, each call nested inside the
// previous one's CallNextHookEx; only the outermost call serves the message.
thread_local int ChainDepth = 0;

}  // namespace

TMessageHook::~TMessageHook() {
    if (FHandle != nullptr) {
        FPlatform.UnhookWindowsHookEx(FHandle);
        FHandle = nullptr;
    }
    Unlink();
}

TMessageHook* TMessageHook::CurrentMessageHook() noexcept { return CurrentHook; }

void TMessageHook::Link() noexcept {
    FPrevious = CurrentHook;
    CurrentHook = this;
}

void TMessageHook::Unlink() noexcept {
    if (CurrentHook == this) {
        CurrentHook = FPrevious;
    } else {
        for (TMessageHook* hook = CurrentHook; hook != nullptr; hook = hook->FPrevious) {
            if (hook->FPrevious == this) {
                hook->FPrevious = FPrevious;
                break;
            }
        }
    }
    FPrevious = nullptr;
}

void TMessageHook::SetActive(bool Value) {
    if (Value == Active()) {
        return;
    }
    if (Value) {
        Link();
        FHandle = FPlatform.SetWindowsHookExA(&MessageHookProc);
        if (FHandle == nullptr) {
            std::string message = "Не удалось установить hook " + FPlatform.LastErrorText();
            Unlink();
            throw std::runtime_error(message);
        }
    } else {
        if (!FPlatform.UnhookWindowsHookEx(FHandle)) {
            throw std::runtime_error("Не удалось снять hook " + FPlatform.LastErrorText());
        }
        FHandle = nullptr;
        Unlink();
    }
}

void TMessageHook::DoHook(int Code, std::uintptr_t WParam, std::intptr_t LParam) {
    if (OnHook) {
        OnHook(Code, WParam, LParam);
    }
}

std::intptr_t TMessageHook::MessageHookProc(TCapturePlatform& Platform, int Code,
                                            std::uintptr_t WParam, std::intptr_t LParam) {
    if (ChainDepth == 0 && CurrentHook != nullptr) {
        // Nothing may unwind into the system's message retrieval.
        try {
            CurrentHook->DoHook(Code, WParam, LParam);
        } catch (...) {
        }
    }
    ++ChainDepth;
    const std::intptr_t result = Platform.CallNextHookEx(Code, WParam, LParam);
    --ChainDepth;
    return result;
}

}  // namespace wedgecard
