#include "driver/capture/KeyboardHook.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <span>
#include <utility>

#include "driver/capture/KeysLogText.h"
#include "driver/capture/ThreadCaptures.h"
#include "driver/diagnostics/untLogger.h"

namespace wedgecard {

namespace {

bool IsKeyMessage(std::uint32_t Message) noexcept {
    return Message == wm::KeyDown || Message == wm::KeyUp || Message == wm::SysKeyDown ||
           Message == wm::SysKeyUp;
}

bool IsKeyUp(const TMsg& Message) noexcept {
    return Message.message == wm::KeyUp || Message.message == wm::SysKeyUp;
}

std::vector<bool> NoneDropped(const TKeys& Keys) {
    return std::vector<bool>(static_cast<std::size_t>(Keys.Count()), false);
}

}  // namespace

TKeyboardHook::TKeyboardHook(TCapturePlatform& Platform)
    : FPlatform(Platform), FBurst(Platform), FReplay(Platform, Cookie()), FHook(Platform) {
    FHook.OnHook = [this](int Code, std::uintptr_t WParam, std::intptr_t LParam) {
        HookProc(Code, WParam, LParam);
    };
    TThreadCaptures::Current().Add(*this);
}

TKeyboardHook::~TKeyboardHook() {
    FDraining = false;
    try {
        FHook.SetActive(false);
    } catch (...) {
        // The hook stays installed, but ~TMessageHook unlinks this object from it.
    }
    try {
        ReleaseHeldKeys();
    } catch (...) {
    }
    TThreadCaptures& thread = TThreadCaptures::Current();
    thread.Remove(*this);
    thread.StartsChanged();
    if (FExclusive) {
        thread.ResumeAll(nullptr);
    }
}

bool TKeyboardHook::Suspended() const noexcept {
    if (FSuspensions > 0) {
        return true;
    }
    // The latest exclusive capture that is on suspends all others.
    const TKeyboardHook* exclusive = TThreadCaptures::Current().Exclusive();
    return exclusive != nullptr && exclusive != this;
}

void TKeyboardHook::SetSuspended(bool Value) {
    TThreadCaptures::Current().StartsChanged();
    if (Value) {
        ++FSuspensions;
    } else if (FSuspensions > 0 && --FSuspensions == 0) {
        Resume();
    }
}

void TKeyboardHook::SetExclusive(bool Value) {
    TThreadCaptures::Current().StartsChanged();
    FExclusive = Value;
    if (!Value) {
        TThreadCaptures::Current().ResumeAll(this);
    }
}

void TKeyboardHook::Resume() {
    if (Suspended()) {
        return;
    }
    // The burst's timer may have been stopped while suspended.
    if (FBurst.Phase() == TBurstPhase::Holding && !FBurst.TimerRunning() && SwitchedOn()) {
        HoldBurst();
    }
    PostNextReplay();
}

std::uintptr_t TKeyboardHook::Cookie() const noexcept {
    return reinterpret_cast<std::uintptr_t>(this);
}

TLogger& TKeyboardHook::Logger() {
    if (!FLogger) {
        FLogger = std::make_unique<TLogger>("TKeyboardHook");
    }
    return *FLogger;
}

void TKeyboardHook::SetActive(bool Value) {
    if (Value == SwitchedOn()) {
        return;
    }
    TThreadCaptures::Current().StartsChanged();
    if (Value) {
        if (FDraining) {
            FDraining = false;  // the hook is still in place
        } else {
            FHook.SetActive(true);
        }
        return;
    }
    FBurst.StopTimer();
    if (FBurst.Keys().Count() > 0) {
        const std::unique_ptr<TKeys> burst = TakeBurst();
        GiveBack(*burst, NoneDropped(*burst), false);
    }
    if (FReplay.Empty() && !FBurst.Examining()) {
        FHook.SetActive(false);
        if (FExclusive) {
            TThreadCaptures::Current().ResumeAll(this);
        }
        return;
    }
    FDraining = true;
    PostNextReplay();
}

void TKeyboardHook::EndBurst() {
    switch (FBurst.Phase()) {
        case TBurstPhase::Idle:
            break;
        case TBurstPhase::Holding:
            ProcessBuffer();
            break;
        case TBurstPhase::CardTail:
            FBurst.StopTimer();
            break;
    }
}

void TKeyboardHook::FinishDraining() {
    if (!FDraining || !FReplay.Empty() || FBurst.Examining()) {
        return;
    }
    try {
        FHook.SetActive(false);
        FDraining = false;
        TThreadCaptures::Current().StartsChanged();
        if (FExclusive) {
            TThreadCaptures::Current().ResumeAll(this);
        }
    } catch (const std::exception& error) {
        Logger().Error(std::string("HookProc: ") + error.what());
    }
}

void TKeyboardHook::HookProc(int Code, std::uintptr_t WParam, std::intptr_t Message) {
    // A message only looked at is handled when it is removed.
    if (Code != hook::Action || WParam != hook::Remove || Message == 0) {
        return;
    }
    TMsg record;
    std::memcpy(&record, reinterpret_cast<const void*>(Message), sizeof record);
    TThreadCaptures& thread = TThreadCaptures::Current();
    const bool decided = thread.DecidedKey.Message == Message &&
                         thread.DecidedKey.Number == TMessageHook::MessageNumber() &&
                         IsKeyMessage(record.message);
    bool nowDecided = false;
    try {
        nowDecided = HandleMessage(record, decided);
    } catch (const std::exception& error) {
        Logger().Error(std::string("HookProc: ") + error.what());
    } catch (...) {
        Logger().Error("HookProc: ");
    }
    std::memcpy(reinterpret_cast<void*>(Message), &record, sizeof record);
    if (nowDecided) {
        thread.DecidedKey = TThreadCaptures::TDecidedKey{Message, TMessageHook::MessageNumber()};
    }
}

bool TKeyboardHook::HandleMessage(TMsg& Message, bool Decided) {
    bool nowDecided = false;
    if (IsKeyMessage(Message.message)) {
        if (!FDraining && !Suspended()) {
            TakeKey(Message, Decided);
        }
    } else if (Message.message == wm::Timer) {
        if (FBurst.IsTimer(Message.wParam)) {
            const bool cardTail = FBurst.Phase() == TBurstPhase::CardTail;
            FBurst.StopTimer();
            // Suspended, the burst waits: Resume starts its quiet time again.
            if (!cardTail && !Suspended()) {
                ProcessBuffer();
            }
        }
    } else if (FReplay.IsNext(Message)) {
        ReplayKey(Message, nowDecided);
    }
    if (!FReplay.Posted() && !FReplay.Empty() && !Suspended()) {
        // A replay message could not be posted earlier (the queue was full). The thread is
        // emptying its queue now, so there is room again.
        PostNextReplay();
    }
    return nowDecided;
}

void TKeyboardHook::SetCardEnds(std::optional<std::string> Codes) {
    FCardEnds = std::move(Codes);
    TThreadCaptures::Current().StartsChanged();
}

void TKeyboardHook::SetCardPrefixes(std::optional<std::vector<std::string>> Prefixes) {
    FCardPrefixes = TPrefixMatcher::Usable(std::move(Prefixes));
    TThreadCaptures::Current().StartsChanged();
}

void TKeyboardHook::UpdateCardKeys() {
    const TThreadCaptures& thread = TThreadCaptures::Current();
    if (FStartsEpoch == thread.StartsEpoch()) {
        return;
    }
    FStartsEpoch = thread.StartsEpoch();
    TPrefixMatcher::TPrefixes starts;
    thread.CardKeys(*this, starts, FEnds);
    FMatcher.SetPrefixes(std::move(starts), FBurst.Keys().Count() > 0);
}

void TKeyboardHook::TakeKey(TMsg& Message, bool Decided) {
    const bool keyUp = IsKeyUp(Message);
    if (FBurst.Phase() == TBurstPhase::CardTail && !Decided) {
        if (keyUp || (Message.lParam & 0xFFFF) == 0) {
            // The card's, as in the burst that waits, which would hold it until the next press.
            Message.message = wm::Null;
            FPlatform.GetKeyboardState(FNewestState);
            FReplay.KeepState(FNewestState);
            FBurst.StopTimer();
            StartCardTail();
            return;
        }
        FBurst.StopTimer();
    }
    UpdateCardKeys();
    // A burst is on, or one is being examined: what comes now belongs to it, or to the next.
    if ((!FMatcher.Prefixes() && !Decided) || FBurst.Phase() == TBurstPhase::Holding ||
        FBurst.Examining()) {
        CaptureKey(Message);
        FReplay.KeepState(FNewestState);
        return;
    }
    if ((Message.lParam & 0xFFFF) == 0) {
        Message.message = wm::Null;  // no key to deliver, as when held
        return;
    }
    // A decided key begins nothing.
    if (!Decided && FMatcher.CanBegin(keyUp, static_cast<std::uint8_t>(Message.wParam & 0xFF))) {
        CaptureKey(Message);
        FReplay.KeepState(FNewestState);
    } else if (!FReplay.Empty()) {
        // Behind the keys still on their way back, not in front of them.
        TKeys keys;
        AddKeys(keys, Message);
        GiveBack(keys, NoneDropped(keys), true);
        Message.message = wm::Null;
        PostNextReplay();
    }
    // Otherwise it passes untouched.
}

void TKeyboardHook::AddKeys(TKeys& Into, const TMsg& Message) {
    const auto repeatCount = static_cast<int>(Message.lParam & 0xFFFF);
    if (repeatCount == 0) {
        return;
    }
    TKeyboardState& state = FNewestState;
    FPlatform.GetKeyboardState(state);
    const std::int32_t shiftState =
        ((state[vk::Shift] & 0x80) != 0 ? 1 : 0) | ((state[vk::Capital] & 0x01) != 0 ? 2 : 0);
    const bool keyUp = IsKeyUp(Message);
    TMsg single = Message;
    single.lParam = (Message.lParam & ~std::intptr_t{0xFFFF}) | 1;
    for (int i = 0; i < repeatCount; ++i) {
        TKey* key = Into.Add();
        key->Msg = single;
        key->KeyboardState = state;
        key->ShiftState = shiftState;
        key->KeyUp = keyUp;
    }
}

void TKeyboardHook::CaptureKey(TMsg& Message) {
    FBurst.StopTimer();
    TKeys& keys = FBurst.Keys();
    const int first = keys.Count();
    AddKeys(keys, Message);
    Message.message = wm::Null;
    const bool added = keys.Count() > first;
    const bool follow = FMatcher.Following();
    for (int i = first; follow && i < keys.Count(); ++i) {
        FMatcher.Follow(keys, i);
    }
    // Not while a burst is being examined: its keys go back first, when the handler returns.
    if (follow && !FBurst.Examining()) {
        GiveBackEarly();
    }
    if (added && CardEndsHere()) {
        bool cardAtEnd = false;
        try {
            ProcessBuffer(&cardAtEnd);
        } catch (...) {
            if (cardAtEnd) {
                StartCardTail();  // a refused event still has its keys
            }
            throw;
        }
        if (cardAtEnd) {
            StartCardTail();
        }
        return;
    }
    if (FBurst.Keys().Count() > 0 || !follow) {
        HoldBurst();
    }
}

bool TKeyboardHook::CardEndsHere() {
    const TKeys& keys = FBurst.Keys();
    // Not while a burst is being examined: the keys taken meanwhile would go back before it.
    if (FBurst.Examining() || keys.Count() == 0) {
        return false;
    }
    const TKey& last = *keys.Items(keys.Count() - 1);
    if (last.KeyUp || vk::IsModifier(last.Code()) ||
        (FEnds && FEnds->find(static_cast<char>(last.Code())) == std::string::npos)) {
        return false;
    }
    try {
        TCardState state = TCardState::Settled;
        for (const TKeyboardHook* hook : TThreadCaptures::Current().TakingKeys(*this)) {
            state = JoinCardStates(state,
                                   hook->OnCardState ? hook->OnCardState(keys) : TCardState::Open);
            if (state == TCardState::Open) {
                return false;
            }
        }
        return state == TCardState::Complete;
    } catch (...) {
        return false;  // the quiet time ends it
    }
}

void TKeyboardHook::StartCardTail() {
    if (SwitchedOn() && !Suspended() && FBurst.Phase() == TBurstPhase::Idle) {
        FBurst.StartCardTail(TThreadCaptures::Current().QuietTime(*this));
    }
}

void TKeyboardHook::GiveBackEarly() {
    TKeys& keys = FBurst.Keys();
    const int decided = FMatcher.Decided(keys.Count());
    if (decided == 0) {
        return;
    }
    // Without a log line: such keys are typing, as those that pass are.
    for (int i = 0; i < decided; ++i) {
        std::unique_ptr<TKey> key(keys.Items(0));
        key->SetOwner(nullptr);
        FReplay.Add(std::move(key), true);
    }
    FMatcher.Drop(decided);
    if (keys.Count() == 0) {
        FBurst.StopTimer();
    }
    PostNextReplay();
}

std::unique_ptr<TKeys> TKeyboardHook::TakeBurst() {
    FMatcher.Reset();
    return FBurst.Take();
}

void TKeyboardHook::HoldBurst() {
    if (!FBurst.Hold(TThreadCaptures::Current().QuietTime(*this))) {
        ProcessBuffer();
    }
}

void TKeyboardHook::ProcessBuffer(bool* LastKeyConsumed) {
    // The burst leaves the capture before the handler sees it: a handler that retrieves
    // messages (a host showing a dialog from its event handler) starts a new burst instead of
    // changing this one under the handler's feet.
    const std::unique_ptr<TKeys> burst = TakeBurst();
    const int count = burst->Count();
    std::vector<bool> dropped(static_cast<std::size_t>(count), false);
    std::exception_ptr failure;
    // The keys came to this capture first: the others of the thread would never see a card it
    // consumed, so each reads its own cards here. A handler may let go of captures (they are
    // looked up again before their turn) or fail; the others still read theirs.
    std::vector<TKeyboardHook*> others;
    try {
        others = TThreadCaptures::Current().TakingKeys(*this);
    } catch (...) {
        // Out of memory for the list: this capture reads the burst alone.
    }
    TKeyboardHook* const alone[] = {this};
    const std::span<TKeyboardHook* const> readers =
        others.empty() ? std::span<TKeyboardHook* const>(alone) : others;
    FBurst.BeginExamining();
    for (TKeyboardHook* reader : readers) {
        if (!TThreadCaptures::Current().Has(reader) || (reader != this && !reader->Active()) ||
            !reader->OnKeyboardData) {
            continue;
        }
        TKeyRanges consumed;
        bool cardData = false;
        try {
            cardData = reader->OnKeyboardData(*burst, consumed);
        } catch (...) {
            // A handler that fails after it recognised card data (the host refused the event)
            // has already reported what it consumed; the rest still goes back.
            if (!failure) {
                failure = std::current_exception();
            }
            cardData = true;
        }
        if (!cardData) {
            continue;
        }
        for (const TKeyRange& range : consumed) {
            const int last = std::min(range.Last, count - 1);
            for (int i = std::max(range.First, 0); i <= last; ++i) {
                dropped[static_cast<std::size_t>(i)] = true;
            }
        }
    }
    FBurst.EndExamining();
    GiveBack(*burst, dropped, true);
    // Keys typed while the handler ran: those in front of any prefix need not wait longer.
    if (FBurst.Keys().Count() > 0 && FMatcher.Following()) {
        GiveBackEarly();
    }
    FReplay.KeepState(FNewestState);
    PostNextReplay();
    FinishDraining();
    if (LastKeyConsumed != nullptr) {
        *LastKeyConsumed = count > 0 && dropped.back();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TKeyboardHook::GiveBack(TKeys& Burst, const std::vector<bool>& Dropped, bool Decided) {
    // One log line per stretch of keys between the cards: a burst with one card logs what came
    // before it and what came after it, either possibly empty.
    const int count = Burst.Count();
    int first = 0;
    while (true) {
        int last = first;
        while (last < count && !Dropped[static_cast<std::size_t>(last)]) {
            ++last;
        }
        Logger().Debug("FlushMessages: " + KeysLogText(Burst, first, last - 1));
        if (last == count) {
            break;
        }
        first = last;
        while (first < count && Dropped[static_cast<std::size_t>(first)]) {
            ++first;
        }
    }
    // From the front, where taking a key off is cheap.
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<TKey> key(Burst.Items(0));
        key->SetOwner(nullptr);
        if (!Dropped[static_cast<std::size_t>(i)]) {
            FReplay.Add(std::move(key), Decided);
        }
    }
}

void TKeyboardHook::PostNextReplay() {
    if (FReplay.Empty() || FReplay.Posted() || Suspended()) {
        return;
    }
    if (!FHook.Active()) {
        ReleaseHeldKeys();
        return;
    }
    FReplay.PostNext();
}

void TKeyboardHook::ReplayKey(TMsg& Message, bool& Decided) {
    if (Suspended()) {
        // The key waits for the suspension to end (it would go to the dialog that has the focus
        // now); Resume posts its message again.
        FReplay.Withhold(Message);
        return;
    }
    const TReplayQueue::TReplayed replayed = FReplay.Replay(Message, FNewestState);
    Decided = replayed.Decided;
    if (replayed.Key) {
        Message.hwnd = FocusWindow();
    }
    PostNextReplay();
    FinishDraining();
}

TWindowHandle TKeyboardHook::FocusWindow() {
    TWindowHandle window = FPlatform.GetFocus();
    return window != nullptr ? window : FPlatform.GetActiveWindow();
}

void TKeyboardHook::PostToFocus(const TKey& Key) {
    if (TWindowHandle window = FocusWindow()) {
        FPlatform.PostMessageA(window, Key.Msg.message, Key.Msg.wParam, Key.Msg.lParam);
    }
}

void TKeyboardHook::ReleaseHeldKeys() {
    std::vector<std::unique_ptr<TKey>> replay;
    const bool replaying = FReplay.TakeAll(replay);
    const std::unique_ptr<TKeys> burst = TakeBurst();
    if (burst->Count() > 0) {
        Logger().Debug("FlushMessages: " + KeysLogText(*burst, 0, burst->Count() - 1));
    }
    // Each replay set the thread's keyboard state to that of an older key, and no replay will
    // set it back now: a Shift given back pressed would stay pressed for all later typing. The
    // newest key taken shows the keyboard as it is (any later key would have been taken too).
    if (replaying || burst->Count() > 0) {
        FPlatform.SetKeyboardState(FNewestState);
    }
    for (const std::unique_ptr<TKey>& key : replay) {
        PostToFocus(*key);
    }
    for (int i = 0; i < burst->Count(); ++i) {
        PostToFocus(*burst->Items(i));
    }
}

}  // namespace wedgecard
