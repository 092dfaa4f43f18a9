#include <gtest/gtest.h>

#include "platform/oleauto.h"

TEST(Guid, ParsesAndFormatsRoundTrip) {
    GUID g{};
    ASSERT_TRUE(ParseGuid("{db8b423c-fbaa-49cc-819a-985966722b3c}", &g));
    EXPECT_EQ(g.Data1, 0xDB8B423Cu);
    EXPECT_EQ(g.Data2, 0xFBAA);
    EXPECT_EQ(g.Data3, 0x49CC);
    EXPECT_EQ(g.Data4[0], 0x81);
    EXPECT_EQ(g.Data4[7], 0x3C);
    EXPECT_EQ(FormatGuid(g), "{DB8B423C-FBAA-49CC-819A-985966722B3C}");

    GUID bare{};
    ASSERT_TRUE(ParseGuid("DB8B423C-FBAA-49CC-819A-985966722B3C", &bare));
    EXPECT_EQ(g, bare);
    EXPECT_EQ(MakeGuid("DB8B423C-FBAA-49CC-819A-985966722B3C"), g);
    EXPECT_EQ(FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
}

TEST(Guid, RejectsMalformedText) {
    GUID g = IID_IDispatch;
    for (const char* bad : {"", "{}", "{DB8B423C-FBAA-49CC-819A-985966722B3C", "DB8B423C-FBAA-49CC-819A-985966722B3",
                            "DB8B423CXFBAA-49CC-819A-985966722B3C", "DB8B423C-FBAA-49CC-819A-985966722B3G",
                            "{DB8B423C-FBAA-49CC-819A-985966722B3C}}"}) {
        EXPECT_FALSE(ParseGuid(bad, &g)) << bad;
    }
    EXPECT_EQ(g, IID_IDispatch); // untouched on failure
    EXPECT_THROW(MakeGuid("nonsense"), std::invalid_argument);
}

TEST(Bstr, CarriesLengthPrefixAndTerminator) {
    BSTR s = SysAllocString(u"abc");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(s)[-1], 6u); // byte length
    EXPECT_EQ(s[3], u'\0');
    SysFreeString(s);

    const char16_t withNul[] = {u'a', u'\0', u'b'};
    BSTR embedded = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(embedded), 3u);
    EXPECT_EQ(embedded[2], u'b');
    SysFreeString(embedded);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    EXPECT_EQ(blank[0], u'\0');
    SysFreeString(blank);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Bstr, ConvertsUtf8BothWays) {
    const std::string text = "Caf\xC3\xA9 \xF0\x9F\x93\xB7 jpg"; // e-acute and a camera (outside the BMP)
    BSTR b = platform::BstrFromUtf8(text);
    EXPECT_EQ(SysStringLen(b), 11u); // the camera takes two UTF-16 units
    EXPECT_EQ(platform::Utf8FromBstr(b), text);
    SysFreeString(b);
    EXPECT_EQ(platform::Utf8FromBstr(nullptr), "");
    EXPECT_EQ(platform::Utf8FromBstr(u"plain"), "plain");

    // Broken input becomes U+FFFD rather than being dropped or overrun.
    EXPECT_EQ(platform::Utf16FromUtf8("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(platform::Utf16FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD"); // overlong
    EXPECT_EQ(platform::Utf8FromUtf16(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}
