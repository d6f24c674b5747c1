#include "driver/capture/PrefixMatcher.h"

#include <algorithm>

#include "driver/capture/Keys.h"

namespace wedgecard {

TCodeStep StepCodes(std::string_view Codes, std::size_t Matched, bool KeyUp,
                    std::uint8_t Code) noexcept {
    if (KeyUp) {
        return Matched == 0 ? TCodeStep::Stop : TCodeStep::Skip;
    }
    if (Matched >= Codes.size()) {
        return TCodeStep::Stop;
    }
    if (vk::IsModifier(Code)) {
        return TCodeStep::Skip;
    }
    return static_cast<std::uint8_t>(Codes[Matched]) == Code ? TCodeStep::Advance : TCodeStep::Stop;
}

TPrefixMatcher::TPrefixes TPrefixMatcher::Usable(TPrefixes Prefixes) {
    if (!Prefixes) {
        return Prefixes;
    }
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
    return usable;
}

void TPrefixMatcher::SetPrefixes(TPrefixes Prefixes, bool KeysHeld) {
    if (Prefixes == FPrefixes) {
        return;
    }
    if (KeysHeld) {
        FHoldWhole = true;
        FMatches.clear();
    }
    FPrefixes = std::move(Prefixes);
}

bool TPrefixMatcher::CanBegin(bool KeyUp, std::uint8_t Code) const {
    return !FPrefixes ||
           std::any_of(FPrefixes->begin(), FPrefixes->end(), [KeyUp, Code](const auto& prefix) {
               return StepCodes(prefix, 0, KeyUp, Code) != TCodeStep::Stop;
           });
}

void TPrefixMatcher::Follow(const TKeys& Keys, int Position) {
    const TKey& key = *Keys.Items(Position);
    const std::vector<std::string>& prefixes = *FPrefixes;
    std::size_t kept = 0;
    for (TMatch& match : FMatches) {
        const std::string& prefix = prefixes[match.Prefix];
        switch (StepCodes(prefix, match.Matched, key.KeyUp, key.Code())) {
            case TCodeStep::Stop:
                continue;
            case TCodeStep::Advance:
                if (++match.Matched == prefix.size()) {
                    FCardStart = std::min(FCardStart.value_or(match.Start), match.Start);
                    continue;
                }
                break;
            case TCodeStep::Skip:
                break;
        }
        FMatches[kept++] = match;
    }
    FMatches.resize(kept);
    // Matches that begin after a complete prefix cannot change what is held.
    if (key.KeyUp || FCardStart) {
        return;
    }
    for (std::size_t p = 0; p < prefixes.size(); ++p) {
        const TCodeStep step = StepCodes(prefixes[p], 0, false, key.Code());
        if (step == TCodeStep::Stop) {
            continue;
        }
        const TMatch match{p, step == TCodeStep::Advance ? 1u : 0u, Position};
        if (match.Matched == prefixes[p].size()) {
            FCardStart = std::min(FCardStart.value_or(Position), Position);
            continue;
        }
        if (std::none_of(FMatches.begin(), FMatches.end(), [&match](const TMatch& other) {
                return other.Prefix == match.Prefix && other.Matched == match.Matched;
            })) {
            FMatches.push_back(match);
        }
    }
}

int TPrefixMatcher::Decided(int Count) const noexcept {
    int decided = Count;
    if (!FMatches.empty()) {
        decided = FMatches.front().Start;
    }
    if (FCardStart) {
        decided = std::min(decided, *FCardStart);
    }
    return decided;
}

void TPrefixMatcher::Drop(int Count) noexcept {
    for (TMatch& match : FMatches) {
        match.Start -= Count;
    }
    if (FCardStart) {
        *FCardStart -= Count;
    }
}

void TPrefixMatcher::Reset() noexcept {
    FMatches.clear();
    FCardStart.reset();
    FHoldWhole = false;
}

}  // namespace wedgecard
