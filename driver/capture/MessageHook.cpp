#include "driver/capture/MessageHook.h"

#include <array>
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

// How many messages the calling thread's handlers are serving, nested, and what waits for
// them to finish. Plain pointers: no thread-exit destructors needed.
thread_local int ServingDepth = 0;
thread_local std::vector<std::function<void()>>* Deferred = nullptr;

thread_local std::uint64_t Served = 0;

void RunDeferred() {
    while (Deferred != nullptr) {
        std::vector<std::function<void()>>* actions = Deferred;
        Deferred = nullptr;
        for (auto& action : *actions) {
            try {
                action();
            } catch (...) {
            }
        }
        delete actions;
    }
}

}  // namespace

bool TMessageHook::Serving() noexcept {
    return ServingDepth > 0;
}

std::uint64_t TMessageHook::MessageNumber() noexcept {
    return Served;
}

void TMessageHook::DeferUntilServed(std::function<void()> Action) {
    if (ServingDepth == 0) {
        Action();
        return;
    }
    if (Deferred == nullptr) {
        Deferred = new std::vector<std::function<void()>>();
    }
    Deferred->push_back(std::move(Action));
}

TMessageHook::~TMessageHook() {
    if (FHandle != nullptr) {
        FPlatform.UnhookWindowsHookEx(FHandle);
        FHandle = nullptr;
    }
    Unlink();
}

TMessageHook* TMessageHook::CurrentMessageHook() noexcept {
    return CurrentHook;
}

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

bool TMessageHook::IsLinked(const TMessageHook* Hook) noexcept {
    for (const TMessageHook* hook = CurrentHook; hook != nullptr; hook = hook->FPrevious) {
        if (hook == Hook) {
            return true;
        }
    }
    return false;
}

void TMessageHook::ServeAll(int Code, std::uintptr_t WParam, std::intptr_t LParam) {
    // The objects active now, in the order they are served. A handler may switch objects off
    // or destroy them (they leave the chain and are skipped), or switch new ones on (served
    // from the next message on).
    std::array<TMessageHook*, 8> few{};
    std::vector<TMessageHook*> many;
    std::size_t count = 0;
    for (TMessageHook* hook = CurrentHook; hook != nullptr; hook = hook->FPrevious) {
        if (count < few.size()) {
            few[count] = hook;
        } else {
            if (many.empty()) {
                many.assign(few.begin(), few.end());
            }
            many.push_back(hook);
        }
        ++count;
    }
    TMessageHook* const* served = many.empty() ? few.data() : many.data();
    for (std::size_t i = 0; i < count; ++i) {
        TMessageHook* hook = served[i];
        if (!IsLinked(hook)) {
            continue;
        }
        // Nothing may unwind into the system's message retrieval.
        try {
            hook->DoHook(Code, WParam, LParam);
        } catch (...) {
        }
    }
}

std::intptr_t TMessageHook::MessageHookProc(TCapturePlatform& Platform, int Code,
                                            std::uintptr_t WParam, std::intptr_t LParam) {
    if (ChainDepth == 0 && CurrentHook != nullptr) {
        ++Served;
        ++ServingDepth;
        try {
            ServeAll(Code, WParam, LParam);
        } catch (...) {
            // Out of memory for the list of more than a few objects.
        }
        if (--ServingDepth == 0) {
            RunDeferred();
        }
    }
    ++ChainDepth;
    const std::intptr_t result = Platform.CallNextHookEx(Code, WParam, LParam);
    --ChainDepth;
    return result;
}

}  // namespace wedgecard
