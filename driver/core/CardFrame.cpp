#include "driver/core/CardFrame.h"

#include <algorithm>

namespace wedgecard {

std::optional<std::vector<std::string>> TKeyCodeCardFrame::CardPrefixes() const {
    std::vector<std::string> prefixes;
    for (const TKeys::TTrackTemplate& track : FTemplates) {
        if (track.Prefix.empty() && !track.Suffix.empty()) {
            // A track framed by its suffix alone runs from wherever the search stands: any key
            // may be part of it.
            return std::nullopt;
        }
        if (!track.Prefix.empty()) {
            prefixes.push_back(track.Prefix);
        }
    }
    return prefixes;
}

std::string TKeyCodeCardFrame::CardEnds() const {
    std::string ends;
    for (const TKeys::TTrackTemplate& track : FTemplates) {
        if (!track.Suffix.empty()) {
            ends += track.Suffix.back();
        }
    }
    return ends;
}

TCardState TKeyCodeCardFrame::State(const TKeys& Keys) const {
    return Keys.CardState(FTemplates);
}

std::vector<TFramedCard> TKeyCodeCardFrame::FindCards(const TKeys& Keys) const {
    std::vector<TFramedCard> cards;
    int position = 0;
    while (position < Keys.Count()) {
        TKeys::TTracks tracks;
        int start = position;
        int stop = 0;
        if (!Keys.FindTracks(FTemplates, start, tracks, stop)) {
            break;
        }
        if (std::any_of(tracks.begin(), tracks.end(),
                        [](const std::string& track) { return !track.empty(); })) {
            cards.push_back(TFramedCard{TKeyRange{start, stop}, FormatTrackData(tracks)});
        }
        position = stop + 1;
    }
    return cards;
}

std::string TKeyCodeCardFrame::FormatTrackData(const TKeys::TTracks& Tracks) {
    std::string data;
    for (std::size_t t = 0; t < Tracks.size(); ++t) {
        data += '@';
        data += static_cast<char>('1' + t);
        for (const char c : Tracks[t]) {
            data += c;
            if (c == '@') {
                data += '@';
            }
        }
    }
    return data;
}

std::optional<std::vector<std::string>> TCharacterCardFrame::CardPrefixes() const {
    std::vector<std::string> prefixes;
    for (const TCharacterTrack& track : FFrame.Tracks) {
        if (!track.Searched()) {
            continue;
        }
        if (track.Prefix.empty()) {
            return std::nullopt;  // the track begins where the search stands
        }
        // Each key that types the prefix's first character, with or without Shift: the capture
        // matches key codes, and a Shift press can begin any card anyway.
        for (const char key : KeysTyping(track.Prefix.front())) {
            prefixes.emplace_back(1, key);
        }
    }
    return prefixes;
}

std::string TCharacterCardFrame::CardEnds() const {
    std::string ends;
    for (const TCharacterTrack& track : FFrame.Tracks) {
        if (track.Searched()) {
            ends += KeysTyping(track.Suffix.back());
        }
    }
    if (!FFrame.CardSuffix.empty()) {
        ends += KeysTyping(FFrame.CardSuffix.back());
    }
    return ends;
}

TCardState TCharacterCardFrame::State(const TKeys& Keys) const {
    return CharacterCardState(Keys, FFrame);
}

std::vector<TFramedCard> TCharacterCardFrame::FindCards(const TKeys& Keys) const {
    std::vector<TFramedCard> cards;
    for (TCharacterCard& card : FindCharacterCards(Keys, FFrame)) {
        cards.push_back(TFramedCard{card.Keys, std::move(card.Data)});
    }
    return cards;
}

}  // namespace wedgecard
