#include "driver/capture/ReplayQueue.h"

#include <algorithm>
#include <utility>

#include "driver/capture/ThreadCaptures.h"

namespace wedgecard {

void TReplayQueue::Add(std::unique_ptr<TKey> Key, bool Decided) {
    FItems.push_back(
        TItem{TKind::Key, std::move(Key), TThreadCaptures::Current().NewSerial(), Decided});
}

void TReplayQueue::KeepState(const TKeyboardState& Newest) {
    // With nothing to set it back, later typing would be read with a stale state (a Shift given
    // back pressed, whose release was part of a card or is still held, stays pressed).
    const auto last = std::find_if(FItems.rbegin(), FItems.rend(),
                                   [](const TItem& item) { return item.Kind != TKind::AfterChar; });
    if (last == FItems.rend() || last->Kind == TKind::State || last->Key->KeyboardState == Newest) {
        return;
    }
    FItems.push_back(TItem{TKind::State, nullptr, TThreadCaptures::Current().NewSerial()});
}

void TReplayQueue::PostNext() {
    if (FItems.empty() || FPosted) {
        return;
    }
    FPosted = FPlatform.PostMessageA(nullptr, WM_REPLAYKEY, FCookie,
                                     static_cast<std::intptr_t>(FItems.front().Serial));
}

bool TReplayQueue::IsNext(const TMsg& Message) const noexcept {
    return Message.message == WM_REPLAYKEY && Message.wParam == FCookie && FPosted &&
           !FItems.empty() && Message.lParam == static_cast<std::intptr_t>(FItems.front().Serial);
}

void TReplayQueue::Withhold(TMsg& Message) noexcept {
    Message.message = wm::Null;
    FPosted = false;
}

TReplayQueue::TReplayed TReplayQueue::Replay(TMsg& Message, const TKeyboardState& Newest) {
    const TKind kind = FItems.front().Kind;
    const TReplayed replayed{kind == TKind::Key, FItems.front().Decided};
    const std::unique_ptr<TKey> key = std::move(FItems.front().Key);
    FItems.pop_front();
    FPosted = false;
    if (kind != TKind::Key) {
        if (kind == TKind::State) {
            FPlatform.SetKeyboardState(Newest);
        }
        Message.message = wm::Null;
        return replayed;
    }
    Message.message = key->Msg.message;
    Message.wParam = key->Msg.wParam;
    Message.lParam = key->Msg.lParam;
    FPlatform.SetKeyboardState(key->KeyboardState);
    if (!key->KeyUp && !FItems.empty()) {
        FItems.push_front(TItem{TKind::AfterChar, nullptr, TThreadCaptures::Current().NewSerial()});
    }
    return replayed;
}

bool TReplayQueue::TakeAll(std::vector<std::unique_ptr<TKey>>& Keys) {
    std::deque<TItem> items = std::exchange(FItems, {});
    FPosted = false;
    for (TItem& item : items) {
        if (item.Key) {
            Keys.push_back(std::move(item.Key));
        }
    }
    return !items.empty();
}

}  // namespace wedgecard
