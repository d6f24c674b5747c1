#pragma once

#include <cstdint>

#include "driver/capture/Keys.h"

namespace wedgecard::test {

// Values of TKey::ShiftState.
namespace shift_state {
inline constexpr std::int32_t None = 0;
inline constexpr std::int32_t Shift = 1;
inline constexpr std::int32_t CapsLock = 2;
inline constexpr std::int32_t CapsLockShift = 3;
}  // namespace shift_state

// A burst of key records written by hand, as the capture would have taken them off the queue.
class TKeyBuilder {
public:
    explicit TKeyBuilder(TKeys& Keys) : FKeys(Keys) {}

    TKeyBuilder& Down(std::uint8_t Code, std::int32_t ShiftState = shift_state::None) {
        return Add(Code, false, ShiftState);
    }
    TKeyBuilder& Up(std::uint8_t Code, std::int32_t ShiftState = shift_state::None) {
        return Add(Code, true, ShiftState);
    }
    // Press and release.
    TKeyBuilder& Tap(std::uint8_t Code, std::int32_t ShiftState = shift_state::None) {
        return Down(Code, ShiftState).Up(Code, ShiftState);
    }
    // Shift held around the key, as a reader types a shifted character: four records.
    TKeyBuilder& ShiftTap(std::uint8_t Code) {
        return Down(vk::Shift, shift_state::Shift)
            .Tap(Code, shift_state::Shift)
            .Up(vk::Shift, shift_state::None);
    }

private:
    TKeyBuilder& Add(std::uint8_t Code, bool KeyUp, std::int32_t ShiftState) {
        TKey* key = FKeys.Add();
        key->Msg.message = KeyUp ? wm::KeyUp : wm::KeyDown;
        key->Msg.wParam = Code;
        key->Msg.lParam = 1;
        key->KeyUp = KeyUp;
        key->ShiftState = ShiftState;
        if ((ShiftState & shift_state::Shift) != 0) {
            key->KeyboardState[vk::Shift] = 0x80;
        }
        if ((ShiftState & shift_state::CapsLock) != 0) {
            key->KeyboardState[vk::Capital] = 0x01;
        }
        return *this;
    }

    TKeys& FKeys;
};

}  // namespace wedgecard::test
