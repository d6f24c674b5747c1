#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/capture/CharacterCards.h"
#include "driver/capture/Keys.h"
#include "driver/core/LumMSRTypes.h"

namespace wedgecard {

// A card one device read in a burst: its keys and the data of its event.
struct TFramedCard {
    TKeyRange Keys;
    std::string Data;
};

// How one device's cards are framed in the keys of a burst. The driver asks every device the
// same questions, whatever frames its cards.
class TCardFrame {
public:
    TCardFrame() = default;
    TCardFrame(const TCardFrame&) = delete;
    TCardFrame& operator=(const TCardFrame&) = delete;
    virtual ~TCardFrame() = default;

    // The key codes that can begin a card, as the capture matches prefixes (from a key press
    // on, Shift, Ctrl and Alt stepped over); none when any key may begin one.
    [[nodiscard]] virtual std::optional<std::vector<std::string>> CardPrefixes() const = 0;
    // The key codes whose press can end a card, one byte each.
    [[nodiscard]] virtual std::string CardEnds() const = 0;
    // What keys typed after Keys can still change of the cards read in them.
    [[nodiscard]] virtual TCardState State(const TKeys& Keys) const = 0;
    // The cards in Keys, in the order they were typed. Keys whose tracks are all empty are no
    // card (End and Home pressed quickly can frame one).
    [[nodiscard]] virtual std::vector<TFramedCard> FindCards(const TKeys& Keys) const = 0;
    // The event each card is handed over as.
    [[nodiscard]] virtual TEventKind CardEvent() const noexcept = 0;
};

// Tracks framed by key codes: each track's prefix and suffix (either may be empty; a track with
// neither is not looked for). Its cards are CardRead events, the tracks as FormatTrackData
// writes them.
class TKeyCodeCardFrame final : public TCardFrame {
public:
    TKeyCodeCardFrame() = default;
    explicit TKeyCodeCardFrame(TKeys::TTemplates Templates) : FTemplates(std::move(Templates)) {}

    [[nodiscard]] std::optional<std::vector<std::string>> CardPrefixes() const override;
    [[nodiscard]] std::string CardEnds() const override;
    [[nodiscard]] TCardState State(const TKeys& Keys) const override;
    [[nodiscard]] std::vector<TFramedCard> FindCards(const TKeys& Keys) const override;
    [[nodiscard]] TEventKind CardEvent() const noexcept override { return TEventKind::CardRead; }

    // "@1" track 1 "@2" track 2 "@3" track 3, every "@" inside a track doubled.
    [[nodiscard]] static std::string FormatTrackData(const TKeys::TTracks& Tracks);

private:
    TKeys::TTemplates FTemplates;
};

// Tracks framed by characters (CharacterCards.h). Its cards are TracksData events, the tracks
// the device reads as typed.
class TCharacterCardFrame final : public TCardFrame {
public:
    explicit TCharacterCardFrame(TCharacterFrame Frame) : FFrame(std::move(Frame)) {}

    [[nodiscard]] std::optional<std::vector<std::string>> CardPrefixes() const override;
    [[nodiscard]] std::string CardEnds() const override;
    [[nodiscard]] TCardState State(const TKeys& Keys) const override;
    [[nodiscard]] std::vector<TFramedCard> FindCards(const TKeys& Keys) const override;
    [[nodiscard]] TEventKind CardEvent() const noexcept override { return TEventKind::TracksData; }

private:
    TCharacterFrame FFrame;
};

}  // namespace wedgecard
