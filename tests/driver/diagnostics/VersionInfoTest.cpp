#include "driver/diagnostics/VersionInfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wedgecard {
namespace {

using TBytes = std::vector<unsigned char>;

// Resource data is little-endian; the bytes are laid down one by one so the test does not
// depend on the byte order of the machine running it.
void PutWord(TBytes& Bytes, std::uint16_t Value) {
    Bytes.push_back(static_cast<unsigned char>(Value & 0xFF));
    Bytes.push_back(static_cast<unsigned char>(Value >> 8));
}

void PutDword(TBytes& Bytes, std::uint32_t Value) {
    PutWord(Bytes, static_cast<std::uint16_t>(Value & 0xFFFF));
    PutWord(Bytes, static_cast<std::uint16_t>(Value >> 16));
}

void PutText(TBytes& Bytes, const std::u16string& Text) {
    for (const char16_t c : Text) {
        PutWord(Bytes, static_cast<std::uint16_t>(c));
    }
    PutWord(Bytes, 0);
}

void AlignTo32Bits(TBytes& Bytes) {
    while (Bytes.size() % 4 != 0) {
        Bytes.push_back(0);
    }
}

// One block of a version resource as a resource compiler writes it: length, value length,
// type, the key with its terminator, padding, the value, padding, the children.
TBytes Block(const std::u16string& Key, std::uint16_t ValueLength, std::uint16_t Type,
             const TBytes& Value, const std::vector<TBytes>& Children = {}) {
    TBytes bytes;
    PutWord(bytes, 0);
    PutWord(bytes, ValueLength);
    PutWord(bytes, Type);
    PutText(bytes, Key);
    AlignTo32Bits(bytes);
    bytes.insert(bytes.end(), Value.begin(), Value.end());
    for (const TBytes& child : Children) {
        AlignTo32Bits(bytes);
        bytes.insert(bytes.end(), child.begin(), child.end());
    }
    bytes[0] = static_cast<unsigned char>(bytes.size() & 0xFF);
    bytes[1] = static_cast<unsigned char>(bytes.size() >> 8);
    return bytes;
}

TBytes TextBlock(const std::u16string& Key, const std::u16string& Text) {
    TBytes value;
    PutText(value, Text);
    return Block(Key, static_cast<std::uint16_t>(Text.size() + 1), 1, value);
}

struct TVersionWords {
    std::uint32_t FileMS = 0;
    std::uint32_t FileLS = 0;
    std::uint32_t ProductMS = 0;
    std::uint32_t ProductLS = 0;
    std::uint32_t Signature = 0xFEEF04BD;
};

// A complete VS_VERSIONINFO: the fixed file information followed by a string table and the
// translation list, as a compiled .rc file holds them.
TBytes VersionResource(const TVersionWords& Words, const std::u16string& FileVersionText) {
    TBytes fixed;
    PutDword(fixed, Words.Signature);
    PutDword(fixed, 0x00010000);  // structure version
    PutDword(fixed, Words.FileMS);
    PutDword(fixed, Words.FileLS);
    PutDword(fixed, Words.ProductMS);
    PutDword(fixed, Words.ProductLS);
    PutDword(fixed, 0x3F);        // flags mask
    PutDword(fixed, 0);           // flags
    PutDword(fixed, 0x00040004);  // VOS_NT_WINDOWS32
    PutDword(fixed, 2);           // VFT_DLL
    PutDword(fixed, 0);           // subtype
    PutDword(fixed, 0);           // date
    PutDword(fixed, 0);
    EXPECT_EQ(fixed.size(), 52U);

    const TBytes strings = Block(u"StringFileInfo", 0, 1, {},
                                 {Block(u"041904E3", 0, 1, {},
                                        {TextBlock(u"FileDescription", u"Card reader driver"),
                                         TextBlock(u"FileVersion", FileVersionText)})});
    TBytes translation;
    PutWord(translation, 0x0419);
    PutWord(translation, 1251);
    const TBytes variables =
        Block(u"VarFileInfo", 0, 1, {}, {Block(u"Translation", 4, 0, translation)});
    return Block(u"VS_VERSION_INFO", 52, 0, fixed, {strings, variables});
}

TFileVersion Parse(const TBytes& Bytes) {
    return ParseFileVersion(Bytes.data(), Bytes.size());
}

void ExpectVersion(const TFileVersion& Version, int Major, int Minor, int Release, int Build) {
    EXPECT_EQ(Version.Major, Major);
    EXPECT_EQ(Version.Minor, Minor);
    EXPECT_EQ(Version.Release, Release);
    EXPECT_EQ(Version.Build, Build);
}

TEST(FileVersion, IsReadFromTheFixedFileInformationOfAVersionResource) {
    const TBytes resource = VersionResource(
        {.FileMS = 0x00010000, .FileLS = 0x00000008, .ProductMS = 0x00090009}, u"1.0.0.8");
    ExpectVersion(Parse(resource), 1, 0, 0, 8);
    EXPECT_EQ(FormatFileVersion(Parse(resource)), "1.0.0.8");

    const TBytes later = VersionResource({.FileMS = 0x0002000A, .FileLS = 0x0000007B}, u"2.10");
    ExpectVersion(Parse(later), 2, 10, 0, 123);
    EXPECT_EQ(FormatFileVersion(Parse(later)), "2.10.0.123");
}

TEST(FileVersion, TakesEachHalfOfBothWordsWithoutMixingBytesAndIgnoresTheSignature) {
    // Distinct bytes everywhere: a swapped half or byte order shows as a wrong number.
    const TBytes resource =
        VersionResource({.FileMS = 0x12345678, .FileLS = 0x9ABCDEF0, .Signature = 0}, u"");
    ExpectVersion(Parse(resource), 0x1234, 0x5678, 0x9ABC, 0xDEF0);
}

TEST(FileVersion, IsZeroWhenTheDataCannotHoldTheFileVersion) {
    const TBytes resource = VersionResource({.FileMS = 0x00010000, .FileLS = 8}, u"1.0.0.8");
    // The two words end at byte 56: one byte less and they are not there.
    ExpectVersion(ParseFileVersion(resource.data(), 55), 0, 0, 0, 0);
    ExpectVersion(ParseFileVersion(resource.data(), 56), 1, 0, 0, 8);
    ExpectVersion(ParseFileVersion(resource.data(), 0), 0, 0, 0, 0);
    ExpectVersion(ParseFileVersion(nullptr, 1000), 0, 0, 0, 0);
}

TEST(FileVersionText, WritesEachNumberInFullWithoutLeadingZeros) {
    EXPECT_EQ(FormatFileVersion({}), "0.0.0.0");
    EXPECT_EQ(FormatFileVersion({.Major = 2, .Minor = 10, .Release = 0, .Build = 123}),
              "2.10.0.123");
    // Unsigned 16-bit numbers: the largest is not written as a negative one.
    EXPECT_EQ(FormatFileVersion({.Major = 65535, .Minor = 32768, .Release = 100, .Build = 9}),
              "65535.32768.100.9");
}

}  // namespace
}  // namespace wedgecard
