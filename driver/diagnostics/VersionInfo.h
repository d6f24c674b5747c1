#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wedgecard {

struct TFileVersion {
    std::uint16_t Major = 0;
    std::uint16_t Minor = 0;
    std::uint16_t Release = 0;
    std::uint16_t Build = 0;
};

// The file version held in the bytes of a version resource (VS_VERSIONINFO): the two words at
// offset 48, most significant first. Zeros when the data is too short to hold them.
[[nodiscard]] TFileVersion ParseFileVersion(const void* Data, std::size_t Size) noexcept;

// "Major.Minor.Release.Build" in decimal.
[[nodiscard]] std::string FormatFileVersion(const TFileVersion& Version);

}  // namespace wedgecard
