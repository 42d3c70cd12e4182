// The bounded wide/narrow conversions that profile reading and CiOS rely on.
#include <gtest/gtest.h>

#include <string>

#include "support/os_fixture.h"
#include "platform/text.h"

TEST(TextConversion, CutsAtCharacterBoundariesInsideTheBuffer) {
    using kiru::platform::NarrowToWide;
    using kiru::platform::WideToNarrow;
    const std::wstring longWide(400, L'\u00E9');  // two bytes each in UTF-8
    EXPECT_EQ(FilledLength<char>([&](char* narrow) {
                  EXPECT_EQ(WideToNarrow(longWide.c_str(), narrow, MAX_PATH), 258u);
                  EXPECT_EQ(narrow[259], '#');
              }),
              258u);
    const std::string longNarrow(400, 'a');
    EXPECT_EQ(FilledLength<wchar_t>([&](wchar_t* wide) {
                  EXPECT_EQ(NarrowToWide(longNarrow.c_str(), wide, MAX_PATH), MAX_PATH - 1u);
              }),
              MAX_PATH - 1u);
    char narrow[8];
    EXPECT_EQ(WideToNarrow(L"x", narrow, 1), 0u);
    EXPECT_EQ(narrow[0], '\0');
    EXPECT_EQ(WideToNarrow(nullptr, narrow, 8), 0u);
}

TEST(TextConversion, ConvertsUtf8BothWays) {
    using kiru::platform::NarrowToWideString;
    using kiru::platform::WideToNarrowString;
    const char utf8[] = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7";
    EXPECT_EQ(NarrowToWideString(utf8), L"Caf\u00E9 \u20AC \U0001F4F7");
    EXPECT_EQ(WideToNarrowString(NarrowToWideString(utf8).c_str()), utf8);
    EXPECT_EQ(NarrowToWideString(nullptr), L"");
    EXPECT_EQ(WideToNarrowString(nullptr), "");
}
