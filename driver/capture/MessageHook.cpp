#include "driver/capture/MessageHook.h"

#include <array>
#include <stdexcept>
#include <string>

#include "driver/capture/ThreadCaptures.h"

namespace wedgecard {

namespace {

void RunDeferred(TThreadCaptures& Thread) {
    while (Thread.Deferred != nullptr) {
        std::vector<std::function<void()>>* actions = Thread.Deferred;
        Thread.Deferred = nullptr;
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
    return TThreadCaptures::Current().ServingDepth > 0;
}

std::uint64_t TMessageHook::MessageNumber() noexcept {
    return TThreadCaptures::Current().Served;
}

void TMessageHook::DeferUntilServed(std::function<void()> Action) {
    TThreadCaptures& thread = TThreadCaptures::Current();
    if (thread.ServingDepth == 0) {
        Action();
        return;
    }
    if (thread.Deferred == nullptr) {
        thread.Deferred = new std::vector<std::function<void()>>();
    }
    thread.Deferred->push_back(std::move(Action));
}

TMessageHook::~TMessageHook() {
    if (FHandle != nullptr) {
        FPlatform.UnhookWindowsHookEx(FHandle);
        FHandle = nullptr;
    }
    TThreadCaptures::Current().Unlink(*this);
}

TMessageHook* TMessageHook::CurrentMessageHook() noexcept {
    return TThreadCaptures::Current().LatestHook();
}

void TMessageHook::SetActive(bool Value) {
    if (Value == Active()) {
        return;
    }
    if (Value) {
        TThreadCaptures::Current().Link(*this);
        FHandle = FPlatform.SetWindowsHookExA(&MessageHookProc);
        if (FHandle == nullptr) {
            std::string message = "Не удалось установить hook " + FPlatform.LastErrorText();
            TThreadCaptures::Current().Unlink(*this);
            throw std::runtime_error(message);
        }
    } else {
        if (!FPlatform.UnhookWindowsHookEx(FHandle)) {
            throw std::runtime_error("Не удалось снять hook " + FPlatform.LastErrorText());
        }
        FHandle = nullptr;
        TThreadCaptures::Current().Unlink(*this);
    }
}

void TMessageHook::DoHook(int Code, std::uintptr_t WParam, std::intptr_t LParam) {
    if (OnHook) {
        OnHook(Code, WParam, LParam);
    }
}

void TMessageHook::ServeAll(int Code, std::uintptr_t WParam, std::intptr_t LParam) {
    // The objects active now, in the order they are served. A handler may switch objects off
    // or destroy them (they leave the chain and are skipped), or switch new ones on (served
    // from the next message on).
    std::array<TMessageHook*, 8> few{};
    std::vector<TMessageHook*> many;
    std::size_t count = 0;
    const TThreadCaptures& thread = TThreadCaptures::Current();
    for (TMessageHook* hook = thread.LatestHook(); hook != nullptr; hook = hook->FPrevious) {
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
        if (!thread.IsLinked(hook)) {
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
    TThreadCaptures& thread = TThreadCaptures::Current();
    if (thread.ChainDepth == 0 && thread.LatestHook() != nullptr) {
        ++thread.Served;
        ++thread.ServingDepth;
        try {
            ServeAll(Code, WParam, LParam);
        } catch (...) {
            // Out of memory for the list of more than a few objects.
        }
        if (--thread.ServingDepth == 0) {
            RunDeferred(thread);
        }
    }
    ++thread.ChainDepth;
    const std::intptr_t result = Platform.CallNextHookEx(Code, WParam, LParam);
    --thread.ChainDepth;
    return result;
}

}  // namespace wedgecard
