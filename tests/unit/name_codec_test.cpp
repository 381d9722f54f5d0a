// Tests of mailbox name encoding: the modified UTF-7 examples of the IMAP standard, the
// Japanese folder names the host writes, "&" escaping, the 7-bit rule for every 8-bit byte,
// the lenient decoding of runs without "-", with an odd byte or with a 0 unit, and names with a
// character that the code page has no code for.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "store/name_codec.h"

namespace {

// Shift_JIS forms of the names used below.
const char kShigoto[] = "\x8E\x64\x8E\x96";                             // 仕事
const char kJushinTray[] = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";  // 受信トレイ
const char kSoushinbako[] = "\x91\x97\x90\x4D\x94\xA0";                 // 送信箱
const char kTaipei[] = "\x91\xE4\x96\x6B";                              // 台北
const char kNihongo[] = "\x93\xFA\x96\x7B\x8C\xEA";                     // 日本語

std::string Enc(const std::string& s) {
    return EncodeName(Text(s.c_str())).c_str();
}
// The decoded name, or "(none)" when the name holds a character without a code.
std::string Dec(const std::string& s) {
    Text out("x");
    if (DecodeName(Text(s.c_str()), &out))
        return out.c_str();
    EXPECT_TRUE(out.IsEmpty()) << s;
    return "(none)";
}

bool SevenBitPrintable(const std::string& s) {
    for (unsigned char c : s) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

TEST(NameCodecTest, AsciiNamesPassThroughExceptAmpersand) {
    for (const char* name : {"INBOX", "work.box/2001.box", "Re: hello ~x_y", "", "a-b+c,d"}) {
        EXPECT_EQ(Enc(name), name);
        EXPECT_EQ(Dec(name), name);
    }
    EXPECT_EQ(Enc("A&B"), "A&-B");
    EXPECT_EQ(Enc("&&"), "&-&-");
    EXPECT_EQ(Dec("A&-B"), "A&B");
    EXPECT_EQ(Dec("&-&-"), "&&");
}

TEST(NameCodecTest, HostFolderNamesEncodeAndDecodeBack) {
    const struct {
        const char* sjis;
        const char* wire;
    } cases[] = {
        {kShigoto, "&TtVOiw-"},       {kJushinTray, "&U9dP4TDIMOwwpA-"},
        {kSoushinbako, "&kAFP4Xux-"}, {kTaipei, "&U,BTFw-"},  // "/" of standard base64 is "," here
        {kNihongo, "&ZeVnLIqe-"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Enc(c.sjis), c.wire);
        EXPECT_EQ(Dec(c.wire), c.sjis) << c.wire;
    }
    // A run ends at the first ASCII byte, which follows the "-".
    EXPECT_EQ(Enc(std::string("Re:") + kShigoto + "2"), "Re:&TtVOiw-2");
    EXPECT_EQ(Dec("Re:&TtVOiw-2"), std::string("Re:") + kShigoto + "2");
    EXPECT_EQ(Enc(std::string(kShigoto) + "&" + kShigoto), "&TtVOiw-&-&TtVOiw-");
}

TEST(NameCodecTest, StandardExamplesDecode) {
    EXPECT_EQ(Dec("~peter/mail/&U,BTFw-/&ZeVnLIqe-"),
              std::string("~peter/mail/") + kTaipei + "/" + kNihongo);
    // Two adjacent runs (not what an encoder writes) still decode.
    EXPECT_EQ(Dec("&U,BTFw-&ZeVnLIqe-"), std::string(kTaipei) + kNihongo);
    // ASCII needlessly encoded still decodes.
    EXPECT_EQ(Dec("&AGEAYgBj-"), "abc");
}

TEST(NameCodecTest, EveryEightBitByteIsEncoded) {
    // Half-width katakana are single bytes, yet they travel as UTF-16 like the rest.
    EXPECT_EQ(Enc("\xB1\xB2"), "&,3H,cg-");
    EXPECT_EQ(Dec("&,3H,cg-"), "\xB1\xB2");
    // A mixed run: a half-width katakana between two double-byte characters is one run.
    EXPECT_EQ(Enc(std::string("x") + "\x8E\x64" + "\xB1" + "\x8E\x96" + "y"), "x&TtX,cU6L-y");
    // The byte after a lead byte belongs to the character even when it is ASCII (ア).
    EXPECT_EQ(Enc("\x83\x41"
                  "A"),
              "&MKI-A");
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (platform::IsLeadByte(static_cast<unsigned char>(b)))
            continue;
        const std::string one(1, static_cast<char>(b));
        const std::string wire = Enc(one);
        EXPECT_TRUE(SevenBitPrintable(wire)) << std::hex << b << " -> " << wire;
        EXPECT_EQ(wire.front(), '&');
        EXPECT_EQ(wire.back(), '-');
        EXPECT_EQ(Dec(wire), one) << std::hex << b;
    }
}

TEST(NameCodecTest, RawBytesFromAClientPassThroughDecoding) {
    EXPECT_EQ(Dec("\xB1\xB2"), "\xB1\xB2");
    EXPECT_EQ(Dec(kShigoto), kShigoto);
    EXPECT_EQ(Dec(std::string(kShigoto) + "/&TtVOiw-"), std::string(kShigoto) + "/" + kShigoto);
}

TEST(NameCodecTest, LenientDecoding) {
    // No closing "-": the run ends with the name.
    EXPECT_EQ(Dec("&U9dP4TDIMOwwpA"), kJushinTray);
    // A lone "&" at the end stands for nothing.
    EXPECT_EQ(Dec("abc&"), "abc");
    EXPECT_EQ(Dec("&"), "");
    // Three bytes 00 61 62: the odd last byte is a unit of its own, as its low byte.
    EXPECT_EQ(Dec("&AGFi-"), "ab");
    // A 0 unit ends the run's text; decoding goes on after the "-".
    EXPECT_EQ(Dec("x&AAAAYQ-y"), "xy");
    // A lead byte at the end of a name forms a run by itself (the default character).
    const std::string wire = Enc("a\x82");
    EXPECT_EQ(wire, "a&MPs-");
    EXPECT_EQ(Dec(wire), "a\x81\x45");
}

TEST(NameCodecTest, ACharacterWithoutACodeNamesNothing) {
    // Never "?" or a look-alike, which could name another folder (a backslash for U+00A5, "e"
    // for U+00E9). One such character spoils the whole name, a surrogate pair or a lone
    // surrogate as well.
    for (const char* wire : {"&Jjo-!", "Yen&AKU-", "caf&AOk-", "caf&6Q-", "a&2D3eAA-b", "&2AA-",
                             "&TtVOiw-/&AKU-", "&AKUw,w-"}) {
        EXPECT_EQ(Dec(wire), "(none)") << wire;
    }
    // The JIS forms of the wave dash, double vertical line, minus, cent, pound and not signs
    // have the codes of the code page's own forms.
    EXPECT_EQ(Dec("&MBw-"), "\x81\x60");
    EXPECT_EQ(Dec("&,14-"), "\x81\x60");
    EXPECT_EQ(Dec("&IBYiEg-"), "\x81\x61\x81\x7C");
    EXPECT_EQ(Dec("&AKIAowCs-"), "\x81\x91\x81\x92\x81\xCA");
    // U+30FB, the default character of the way in, is a character like any other.
    EXPECT_EQ(Dec("&MPs-"), "\x81\x45");
    bool usedDefault = false;
    NameCodec codec;
    const char16_t yen[] = {u'Y', 0x00A5, 0};
    EXPECT_STREQ(codec.ToNarrow(yen, &usedDefault), "Y?");
    EXPECT_TRUE(usedDefault);
    EXPECT_STREQ(codec.ToNarrow(u"\u301C", &usedDefault), "\x81\x60");
    EXPECT_FALSE(usedDefault);
}

TEST(NameCodecTest, RoundTripGivesTheCodePagesOwnCode) {
    // 纊 has a NEC-selected IBM code and an IBM code; the code page converts back to the
    // latter, which is also what the listed name of the former decodes to.
    EXPECT_EQ(std::string(RoundTripName(Text("\xED\x40")).c_str()), "\xFA\x5C");
    EXPECT_EQ(Dec(Enc("\xED\x40")), "\xFA\x5C");
    EXPECT_EQ(std::string(RoundTripName(Text(kJushinTray)).c_str()), kJushinTray);
    EXPECT_EQ(std::string(RoundTripName(Text("INBOX/a")).c_str()), "INBOX/a");
}

TEST(NameCodecTest, CodecBuffersConvertBothWays) {
    NameCodec codec;
    ASSERT_EQ(codec.ToWide(kShigoto, 4), 2);
    EXPECT_EQ(codec.Wide()[0], u'\u4ED5');
    EXPECT_EQ(codec.Wide()[1], u'\u4E8B');
    EXPECT_EQ(codec.Wide()[2], 0);
    // Only the given count is converted.
    ASSERT_EQ(codec.ToWide(kShigoto, 2), 1);
    EXPECT_EQ(codec.Wide()[1], 0);
    EXPECT_EQ(codec.ToWide("", 0), 0);
    EXPECT_EQ(codec.Wide()[0], 0);
    const char16_t wide[] = {u'\u4ED5', u'A', 0, u'B', 0};
    EXPECT_STREQ(codec.ToNarrow(wide),
                 "\x8E\x64"
                 "A");
}

}  // namespace
