#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "driver/capture/CapturePlatform.h"

namespace wedgecard {

// One WH_GETMESSAGE hook on the calling thread, forwarding every retrieved message to OnHook.
//
// Several objects may be active on one thread (two driver objects, or the driver and its test
// dialog). Each installs its own system hook, but the message is served once to all of them in
// turn, the object activated last first, each seeing the message as the one before left it.
class TMessageHook {
public:
    using THookHandler = std::function<void(int Code, std::uintptr_t WParam, std::intptr_t LParam)>;

    explicit TMessageHook(TCapturePlatform& Platform) noexcept : FPlatform(Platform) {}
    TMessageHook(const TMessageHook&) = delete;
    TMessageHook& operator=(const TMessageHook&) = delete;
    // Removes an installed hook. A removal the system refuses is not raised from here: the
    // object leaves the thread's list all the same, so nothing can call into it.
    ~TMessageHook();

    [[nodiscard]] bool Active() const noexcept { return FHandle != nullptr; }

    // Installs or removes the system hook; nothing when the state already matches. Raises
    // std::runtime_error "Не удалось установить hook ..." or "Не удалось снять hook ..." with
    // the system's text; a failed removal leaves the object active.
    void SetActive(bool Value);

    void DoHook(int Code, std::uintptr_t WParam, std::intptr_t LParam);

    THookHandler OnHook;

    // The hook procedure registered with every installation.
    static std::intptr_t MessageHookProc(TCapturePlatform& Platform, int Code,
                                         std::uintptr_t WParam, std::intptr_t LParam);

    // The object activated last of those active on the calling thread, the first served;
    // null when none is active.
    [[nodiscard]] static TMessageHook* CurrentMessageHook() noexcept;

    // Whether a handler is serving a message on the calling thread right now. The handler may
    // call out (to a host that delivers events), and whoever is called may let go of the
    // objects the handler runs in; their destruction then has to wait until the handler has
    // returned: DeferUntilServed runs Action once the outermost message has been served
    // (at once when none is being served).
    [[nodiscard]] static bool Serving() noexcept;
    static void DeferUntilServed(std::function<void()> Action);

    // Counts the messages served on the calling thread: the objects served one message see the
    // same number, so that one can leave a word about the message for those served after it.
    [[nodiscard]] static std::uint64_t MessageNumber() noexcept;

private:
    friend class TThreadCaptures;

    static void ServeAll(int Code, std::uintptr_t WParam, std::intptr_t LParam);

    TCapturePlatform& FPlatform;
    THookHandle FHandle = nullptr;
    // The object that was current on this thread before this one was activated.
    TMessageHook* FPrevious = nullptr;
};

}  // namespace wedgecard
