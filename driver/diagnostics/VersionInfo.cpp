#include "driver/diagnostics/VersionInfo.h"

#include <cstdio>

namespace wedgecard {

namespace {

// A 6-byte header, the key L"VS_VERSION_INFO" with its terminator, padding to 40, then the
// fixed file information, whose signature and structure version take 8 bytes.
constexpr std::size_t FileVersionOffset = 48;

// Resource data is little-endian whatever the machine reading it.
std::uint32_t ReadLittleEndian32(const unsigned char* Bytes) noexcept {
    return static_cast<std::uint32_t>(Bytes[0]) | static_cast<std::uint32_t>(Bytes[1]) << 8 |
           static_cast<std::uint32_t>(Bytes[2]) << 16 | static_cast<std::uint32_t>(Bytes[3]) << 24;
}

}  // namespace

TFileVersion ParseFileVersion(const void* Data, std::size_t Size) noexcept {
    TFileVersion version;
    if (Data == nullptr || Size < FileVersionOffset + 8) {
        return version;
    }
    const auto* bytes = static_cast<const unsigned char*>(Data);
    const std::uint32_t mostSignificant = ReadLittleEndian32(bytes + FileVersionOffset);
    const std::uint32_t leastSignificant = ReadLittleEndian32(bytes + FileVersionOffset + 4);
    version.Major = static_cast<std::uint16_t>(mostSignificant >> 16);
    version.Minor = static_cast<std::uint16_t>(mostSignificant & 0xFFFF);
    version.Release = static_cast<std::uint16_t>(leastSignificant >> 16);
    version.Build = static_cast<std::uint16_t>(leastSignificant & 0xFFFF);
    return version;
}

std::string FormatFileVersion(const TFileVersion& Version) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", Version.Major, Version.Minor, Version.Release,
                  Version.Build);
    return text;
}

}  // namespace wedgecard
