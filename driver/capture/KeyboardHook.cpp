#include "driver/capture/KeyboardHook.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <span>
#include <utility>

#include "driver/capture/KeysLogText.h"
#include "driver/diagnostics/untLogger.h"

namespace wedgecard {

namespace {

thread_local TKeyboardHook* FirstOnThread = nullptr;

// Numbers the replay messages of every capture of the thread, so that a message left in the
// queue by a capture that is gone never passes for one of a later capture.
thread_local std::uint32_t NextSerial = 1;

// Changes whenever what can begin a card on this thread may have changed: a capture's prefixes,
// or which captures take keys.
thread_local std::uint64_t StartsEpoch = 1;

void StartsChanged() noexcept {
    ++StartsEpoch;
}

// The message record that a capture made a decided key of, for the captures served the same
// message after it.
struct TDecidedKey {
    std::intptr_t Message = 0;
    std::uint64_t Number = 0;
};
thread_local TDecidedKey DecidedKey;

bool IsKeyMessage(std::uint32_t Message) noexcept {
    return Message == wm::KeyDown || Message == wm::KeyUp || Message == wm::SysKeyDown ||
           Message == wm::SysKeyUp;
}

}  // namespace

TKeyboardHook::TKeyboardHook(TCapturePlatform& Platform)
    : FPlatform(Platform), FKeys(std::make_unique<TKeys>()), FHook(Platform) {
    FHook.OnHook = [this](int Code, std::uintptr_t WParam, std::intptr_t LParam) {
        HookProc(Code, WParam, LParam);
    };
    FNextOnThread = FirstOnThread;
    FirstOnThread = this;
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
    for (TKeyboardHook** link = &FirstOnThread; *link != nullptr; link = &(*link)->FNextOnThread) {
        if (*link == this) {
            *link = FNextOnThread;
            break;
        }
    }
    StartsChanged();
    if (FExclusive) {
        ResumeOthers(nullptr);
    }
}

bool TKeyboardHook::Suspended() const noexcept {
    if (FSuspensions > 0) {
        return true;
    }
    // The latest exclusive capture that is on suspends all others.
    for (const TKeyboardHook* hook = FirstOnThread; hook != nullptr; hook = hook->FNextOnThread) {
        if (hook->FExclusive && hook->FHook.Active()) {
            return hook != this;
        }
    }
    return false;
}

void TKeyboardHook::SetSuspended(bool Value) {
    StartsChanged();
    if (Value) {
        ++FSuspensions;
    } else if (FSuspensions > 0 && --FSuspensions == 0) {
        Resume();
    }
}

void TKeyboardHook::SetExclusive(bool Value) {
    StartsChanged();
    FExclusive = Value;
    if (!Value) {
        ResumeOthers(this);
    }
}

void TKeyboardHook::Resume() {
    if (Suspended()) {
        return;
    }
    // The burst's timer may have been stopped while suspended.
    if (FKeys->Count() > 0 && FTimerID == 0 && SwitchedOn()) {
        StartTimer();
    }
    PostNextReplay();
}

void TKeyboardHook::ResumeOthers(const TKeyboardHook* Exclusive) noexcept {
    // Resuming can end a burst at once (when no timer can be started), and the host's handler
    // may then let go of captures of this list: each is looked up again before its turn.
    std::vector<const TKeyboardHook*> others;
    try {
        for (const TKeyboardHook* hook = FirstOnThread; hook != nullptr;
             hook = hook->FNextOnThread) {
            if (hook != Exclusive) {
                others.push_back(hook);
            }
        }
    } catch (...) {
        return;
    }
    for (const TKeyboardHook* other : others) {
        for (TKeyboardHook* hook = FirstOnThread; hook != nullptr; hook = hook->FNextOnThread) {
            if (hook == other) {
                try {
                    hook->Resume();
                } catch (...) {
                    // A refused event (no timer could be started): nobody to report it to.
                }
                break;
            }
        }
    }
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
    StartsChanged();
    if (Value) {
        if (FDraining) {
            FDraining = false;  // the hook is still in place
        } else {
            FHook.SetActive(true);
        }
        return;
    }
    FCardTail = false;
    StopTimer();
    if (FKeys->Count() > 0) {
        const std::unique_ptr<TKeys> burst = TakeBurst();
        GiveBack(*burst, std::vector<bool>(static_cast<std::size_t>(burst->Count()), false), false);
    }
    if (FReplay.empty() && FHandlerDepth == 0) {
        FHook.SetActive(false);
        if (FExclusive) {
            ResumeOthers(this);
        }
        return;
    }
    FDraining = true;
    PostNextReplay();
}

void TKeyboardHook::EndBurst() {
    if (FCardTail) {
        EndCardTail();
    } else if (FKeys->Count() > 0 || FTimerID != 0) {
        StopTimer();
        ProcessBuffer();
    }
}

void TKeyboardHook::FinishDraining() {
    if (!FDraining || !FReplay.empty() || FHandlerDepth > 0) {
        return;
    }
    try {
        FHook.SetActive(false);
        FDraining = false;
        StartsChanged();
        if (FExclusive) {
            ResumeOthers(this);
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
    const bool decided = DecidedKey.Message == Message &&
                         DecidedKey.Number == TMessageHook::MessageNumber() &&
                         IsKeyMessage(record.message);
    FReplayedDecided = false;
    try {
        HandleMessage(record, decided);
    } catch (const std::exception& error) {
        Logger().Error(std::string("HookProc: ") + error.what());
    } catch (...) {
        Logger().Error("HookProc: ");
    }
    std::memcpy(reinterpret_cast<void*>(Message), &record, sizeof record);
    if (FReplayedDecided) {
        DecidedKey = TDecidedKey{Message, TMessageHook::MessageNumber()};
    }
}

void TKeyboardHook::HandleMessage(TMsg& Message, bool Decided) {
    if (IsKeyMessage(Message.message)) {
        if (!FDraining && !Suspended()) {
            TakeKey(Message, Decided);
        }
    } else if (Message.message == wm::Timer) {
        if (FTimerID != 0 && Message.wParam == FTimerID) {
            StopTimer();
            if (FCardTail) {
                FCardTail = false;
            } else if (!Suspended()) {
                // Suspended, the burst waits: Resume starts its quiet time again.
                ProcessBuffer();
            }
        }
    } else if (Message.message == WM_REPLAYKEY && Message.wParam == Cookie()) {
        ReplayKey(Message);
    }
    if (!FReplayPosted && !FReplay.empty() && !Suspended()) {
        // A replay message could not be posted earlier (the queue was full). The thread is
        // emptying its queue now, so there is room again.
        PostNextReplay();
    }
}

void TKeyboardHook::SetCardEnds(std::optional<std::string> Codes) {
    FCardEnds = std::move(Codes);
    StartsChanged();
}

void TKeyboardHook::SetCardPrefixes(std::optional<std::vector<std::string>> Prefixes) {
    if (Prefixes) {
        std::vector<std::string> usable;
        for (std::string& prefix : *Prefixes) {
            if (!prefix.empty() &&
                std::none_of(
                    prefix.begin(), prefix.end(),
                    [](char code) { return vk::IsModifier(static_cast<std::uint8_t>(code)); }) &&
                std::find(usable.begin(), usable.end(), prefix) == usable.end()) {
                usable.push_back(std::move(prefix));
            }
        }
        Prefixes = std::move(usable);
    }
    FCardPrefixes = std::move(Prefixes);
    StartsChanged();
}

const TKeyboardHook::TCardStarts& TKeyboardHook::CardStarts() {
    if (FStartsEpoch == StartsEpoch) {
        return FStarts;
    }
    FStartsEpoch = StartsEpoch;
    TCardStarts starts(std::in_place);
    TCardEnds ends(std::in_place);
    for (const TKeyboardHook* hook = FirstOnThread; hook != nullptr; hook = hook->FNextOnThread) {
        if (hook != this && !hook->Active()) {
            continue;
        }
        if (!hook->FCardPrefixes) {
            starts.reset();
        }
        for (const std::string& prefix : hook->FCardPrefixes.value_or(std::vector<std::string>())) {
            if (starts && std::find(starts->begin(), starts->end(), prefix) == starts->end()) {
                starts->push_back(prefix);
            }
        }
        if (!hook->FCardEnds) {
            ends.reset();
        }
        for (const char code : hook->FCardEnds.value_or(std::string())) {
            if (ends && ends->find(code) == std::string::npos) {
                *ends += code;
            }
        }
    }
    FEnds = std::move(ends);
    if (starts != FStarts && FKeys->Count() > 0) {
        // The matches followed so far were of other prefixes.
        FHoldWhole = true;
        FMatches.clear();
    }
    FStarts = std::move(starts);
    return FStarts;
}

std::vector<TKeyboardHook*> TKeyboardHook::TakingKeys() {
    std::vector<TKeyboardHook*> hooks;
    for (TKeyboardHook* hook = FirstOnThread; hook != nullptr; hook = hook->FNextOnThread) {
        if (hook == this || hook->Active()) {
            hooks.push_back(hook);
        }
    }
    std::reverse(hooks.begin(), hooks.end());
    return hooks;
}

bool TKeyboardHook::OnThread(const TKeyboardHook* Hook) noexcept {
    for (const TKeyboardHook* hook = FirstOnThread; hook != nullptr; hook = hook->FNextOnThread) {
        if (hook == Hook) {
            return true;
        }
    }
    return false;
}

std::int32_t TKeyboardHook::QuietTime() const noexcept {
    std::int32_t quiet = FSensitivity;
    for (const TKeyboardHook* hook = FirstOnThread; hook != nullptr; hook = hook->FNextOnThread) {
        if (hook != this && hook->Active()) {
            quiet = std::max(quiet, hook->FSensitivity);
        }
    }
    return std::max(quiet, 0);
}

void TKeyboardHook::TakeKey(TMsg& Message, bool Decided) {
    const bool keyUp = Message.message == wm::KeyUp || Message.message == wm::SysKeyUp;
    if (FCardTail && !Decided) {
        if (keyUp || (Message.lParam & 0xFFFF) == 0) {
            // The card's, as in the burst that waits, which would hold it until the next press.
            Message.message = wm::Null;
            FPlatform.GetKeyboardState(FNewestState);
            KeepStateAfterReplay();
            StopTimer();
            StartCardTail();
            return;
        }
        EndCardTail();
    }
    const TCardStarts& starts = CardStarts();
    // A burst is on, or one is being examined: what comes now belongs to it, or to the next.
    if ((!starts && !Decided) || FKeys->Count() > 0 || (FTimerID != 0 && !FCardTail) ||
        FHandlerDepth > 0) {
        CaptureKey(Message);
        KeepStateAfterReplay();
        return;
    }
    if ((Message.lParam & 0xFFFF) == 0) {
        Message.message = wm::Null;  // no key to deliver, as when held
        return;
    }
    const auto code = static_cast<std::uint8_t>(Message.wParam & 0xFF);
    // As the track search matches: from a key press on, stepping over Shift, Ctrl and Alt. A
    // decided key begins nothing.
    const bool canBegin =
        !Decided && !keyUp &&
        std::any_of(starts->begin(), starts->end(), [code](const std::string& prefix) {
            return vk::IsModifier(code) || static_cast<std::uint8_t>(prefix[0]) == code;
        });
    if (canBegin) {
        CaptureKey(Message);
        KeepStateAfterReplay();
    } else if (!FReplay.empty()) {
        // Behind the keys still on their way back, not in front of them.
        TKeys keys;
        AddKeys(keys, Message);
        GiveBack(keys, std::vector<bool>(static_cast<std::size_t>(keys.Count()), false), true);
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
    const bool keyUp = Message.message == wm::KeyUp || Message.message == wm::SysKeyUp;
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
    StopTimer();
    const int first = FKeys->Count();
    AddKeys(*FKeys, Message);
    Message.message = wm::Null;
    const bool added = FKeys->Count() > first;
    const bool follow = FStarts && !FHoldWhole;
    for (int i = first; follow && i < FKeys->Count(); ++i) {
        FollowMatches(i);
    }
    // Not while a burst is being examined: its keys go back first, when the handler returns.
    if (follow && FHandlerDepth == 0) {
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
    if (FKeys->Count() > 0 || !follow) {
        StartTimer();
    }
}

bool TKeyboardHook::CardEndsHere() {
    // Not while a burst is being examined: the keys taken meanwhile would go back before it.
    if (FHandlerDepth > 0 || FKeys->Count() == 0) {
        return false;
    }
    const TKey& last = *FKeys->Items(FKeys->Count() - 1);
    if (last.KeyUp || vk::IsModifier(last.Code()) ||
        (FEnds && FEnds->find(static_cast<char>(last.Code())) == std::string::npos)) {
        return false;
    }
    try {
        bool complete = false;
        for (const TKeyboardHook* hook : TakingKeys()) {
            const TCardState state =
                hook->OnCardState ? hook->OnCardState(*FKeys) : TCardState::Open;
            if (state == TCardState::Open) {
                return false;
            }
            complete = complete || state == TCardState::Complete;
        }
        return complete;
    } catch (...) {
        return false;  // the quiet time ends it
    }
}

void TKeyboardHook::StartCardTail() {
    if (!SwitchedOn() || Suspended() || FKeys->Count() > 0 || FTimerID != 0) {
        return;
    }
    FTimerID = FPlatform.SetTimer(static_cast<std::uint32_t>(QuietTime()));
    FCardTail = FTimerID != 0;
}

void TKeyboardHook::EndCardTail() {
    FCardTail = false;
    StopTimer();
}

void TKeyboardHook::FollowMatches(int Position) {
    const TKey& key = *FKeys->Items(Position);
    const std::uint8_t code = key.Code();
    const std::vector<std::string>& prefixes = *FStarts;
    // The steps of TKeys::MatchCodes: a release before the first code ends a match and is
    // stepped over after it; Shift, Ctrl and Alt presses are stepped over; any other press must
    // be the next code. A match is complete once it has every code.
    std::size_t kept = 0;
    for (TPrefixMatch& match : FMatches) {
        if (key.KeyUp) {
            if (match.Matched == 0) {
                continue;
            }
        } else if (!vk::IsModifier(code)) {
            const std::string& prefix = prefixes[match.Prefix];
            if (static_cast<std::uint8_t>(prefix[match.Matched]) != code) {
                continue;
            }
            if (++match.Matched == prefix.size()) {
                FCardStart = std::min(FCardStart.value_or(match.Start), match.Start);
                continue;
            }
        }
        FMatches[kept++] = match;
    }
    FMatches.resize(kept);
    // Matches that begin after a complete prefix cannot change what is held.
    if (key.KeyUp || FCardStart) {
        return;
    }
    const bool modifier = vk::IsModifier(code);
    for (std::size_t p = 0; p < prefixes.size(); ++p) {
        if (!modifier && static_cast<std::uint8_t>(prefixes[p][0]) != code) {
            continue;
        }
        const TPrefixMatch match{p, modifier ? 0u : 1u, Position};
        if (match.Matched == prefixes[p].size()) {
            FCardStart = std::min(FCardStart.value_or(Position), Position);
            continue;
        }
        // An earlier match in the same state goes on exactly as this one would.
        if (std::none_of(FMatches.begin(), FMatches.end(), [&match](const TPrefixMatch& other) {
                return other.Prefix == match.Prefix && other.Matched == match.Matched;
            })) {
            FMatches.push_back(match);
        }
    }
}

void TKeyboardHook::GiveBackEarly() {
    int keep = FKeys->Count();
    if (!FMatches.empty()) {
        keep = FMatches.front().Start;
    }
    if (FCardStart) {
        keep = std::min(keep, *FCardStart);
    }
    if (keep == 0) {
        return;
    }
    // Without a log line: such keys are typing, as those that pass are.
    for (int i = 0; i < keep; ++i) {
        std::unique_ptr<TKey> key(FKeys->Items(0));
        key->SetOwner(nullptr);
        FReplay.push_back(TReplay{TReplayKind::Key, std::move(key), NextSerial++, true});
    }
    for (TPrefixMatch& match : FMatches) {
        match.Start -= keep;
    }
    if (FCardStart) {
        *FCardStart -= keep;
    }
    if (FKeys->Count() == 0) {
        StopTimer();
    }
    PostNextReplay();
}

std::unique_ptr<TKeys> TKeyboardHook::TakeBurst() {
    FMatches.clear();
    FCardStart.reset();
    FHoldWhole = false;
    return std::exchange(FKeys, std::make_unique<TKeys>());
}

void TKeyboardHook::KeepStateAfterReplay() {
    // Each replay sets the keyboard state of its key, older than that of keys taken after it:
    // with nothing to set it back, later typing would be read with a stale state (a Shift given
    // back pressed, whose release was part of a card or is still held, stays pressed).
    const auto last = std::find_if(FReplay.rbegin(), FReplay.rend(), [](const TReplay& item) {
        return item.Kind != TReplayKind::AfterChar;
    });
    if (last == FReplay.rend() || last->Kind == TReplayKind::State ||
        last->Key->KeyboardState == FNewestState) {
        return;
    }
    FReplay.push_back(TReplay{TReplayKind::State, nullptr, NextSerial++});
}

void TKeyboardHook::StartTimer() {
    FTimerID = FPlatform.SetTimer(static_cast<std::uint32_t>(QuietTime()));
    if (FTimerID == 0) {
        // Without a timer the burst would never end and its keys would be held forever.
        ProcessBuffer();
    }
}

void TKeyboardHook::StopTimer() {
    if (FTimerID != 0) {
        FPlatform.KillTimer(FTimerID);
        FTimerID = 0;
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
        others = TakingKeys();
    } catch (...) {
        // Out of memory for the list: this capture reads the burst alone.
    }
    TKeyboardHook* const alone[] = {this};
    const std::span<TKeyboardHook* const> readers =
        others.empty() ? std::span<TKeyboardHook* const>(alone) : others;
    ++FHandlerDepth;
    for (TKeyboardHook* reader : readers) {
        if (!OnThread(reader) || (reader != this && !reader->Active()) || !reader->OnKeyboardData) {
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
    --FHandlerDepth;
    GiveBack(*burst, dropped, true);
    // Keys typed while the handler ran: those in front of any prefix need not wait longer.
    if (FKeys->Count() > 0 && FStarts && !FHoldWhole) {
        GiveBackEarly();
    }
    KeepStateAfterReplay();
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
            FReplay.push_back(TReplay{TReplayKind::Key, std::move(key), NextSerial++, Decided});
        }
    }
}

void TKeyboardHook::PostNextReplay() {
    if (FReplay.empty() || FReplayPosted || Suspended()) {
        return;
    }
    if (!FHook.Active()) {
        ReleaseHeldKeys();
        return;
    }
    FReplayPosted = FPlatform.PostMessageA(nullptr, WM_REPLAYKEY, Cookie(),
                                           static_cast<std::intptr_t>(FReplay.front().Serial));
}

void TKeyboardHook::ReplayKey(TMsg& Message) {
    // Only the message of the key that is next in line counts; one posted before the capture
    // was switched off, or not posted by us at all, is left alone.
    if (!FReplayPosted || FReplay.empty() ||
        Message.lParam != static_cast<std::intptr_t>(FReplay.front().Serial)) {
        return;
    }
    if (Suspended()) {
        // The key waits for the suspension to end (it would go to the dialog that has the focus
        // now); Resume posts its message again.
        Message.message = wm::Null;
        FReplayPosted = false;
        return;
    }
    const TReplayKind kind = FReplay.front().Kind;
    FReplayedDecided = FReplay.front().Decided;
    const std::unique_ptr<TKey> key = std::move(FReplay.front().Key);
    FReplay.pop_front();
    FReplayPosted = false;

    if (kind != TReplayKind::Key) {
        if (kind == TReplayKind::State) {
            FPlatform.SetKeyboardState(FNewestState);
        }
        Message.message = wm::Null;
        PostNextReplay();
        FinishDraining();
        return;
    }
    Message.hwnd = FocusWindow();
    Message.message = key->Msg.message;
    Message.wParam = key->Msg.wParam;
    Message.lParam = key->Msg.lParam;
    FPlatform.SetKeyboardState(key->KeyboardState);
    if (!key->KeyUp && !FReplay.empty()) {
        FReplay.push_front(TReplay{TReplayKind::AfterChar, nullptr, NextSerial++});
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
    FCardTail = false;
    StopTimer();
    std::deque<TReplay> replay = std::exchange(FReplay, {});
    FReplayPosted = false;
    const std::unique_ptr<TKeys> burst = TakeBurst();
    if (burst->Count() > 0) {
        Logger().Debug("FlushMessages: " + KeysLogText(*burst, 0, burst->Count() - 1));
    }
    // Each replay set the thread's keyboard state to that of an older key, and no replay will
    // set it back now: a Shift given back pressed would stay pressed for all later typing. The
    // newest key taken shows the keyboard as it is (any later key would have been taken too).
    if (!replay.empty() || burst->Count() > 0) {
        FPlatform.SetKeyboardState(FNewestState);
    }
    for (const TReplay& item : replay) {
        if (item.Key) {
            PostToFocus(*item.Key);
        }
    }
    for (int i = 0; i < burst->Count(); ++i) {
        PostToFocus(*burst->Items(i));
    }
}

}  // namespace wedgecard
