// Profile-file reading and the bounded wide/narrow conversions it and CiOS
// rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "support/os_fixture.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

using ProfileFiles = OsSandbox;

const char kStation[] =
    "\xEF\xBB\xBF; comment line\n"
    "orphan=ignored\n"
    "[ Config ]\r\n"
    "  OEMName =   \\Example\\   \r\n"
    "Quoted = \"  padded  \"\n"
    "Empty=\n"
    "Equals=a=b\n"
    "OEMName=second definition\n"
    "[Other]\n"
    "Key=other\n"
    "[config]\n"
    "Late=from a repeated section\n";

std::wstring Read(const wchar_t* section, const wchar_t* key, const wchar_t* def, const wchar_t* file) {
    wchar_t out[MAX_PATH];
    const DWORD n = GetPrivateProfileStringW(section, key, def, out, MAX_PATH, file);
    EXPECT_EQ(n, std::wcslen(out));
    return out;
}

TEST_F(ProfileFiles, ValuesAreFoundWithoutRegardToCaseAndTrimmed) {
    WriteFile(cwd_ + "/station.ini", kStation);
    const wchar_t* file = L"./station.ini";
    EXPECT_EQ(Read(L"Config", L"OEMName", L"d", file), L"\\Example\\");
    EXPECT_EQ(Read(L"CONFIG", L"oemname", L"d", file), L"\\Example\\");
    EXPECT_EQ(Read(L"Config", L"Quoted", L"d", file), L"  padded  ");
    EXPECT_EQ(Read(L"Config", L"Empty", L"d", file), L"");
    EXPECT_EQ(Read(L"Config", L"Equals", L"d", file), L"a=b");
    EXPECT_EQ(Read(L"Other", L"Key", L"d", file), L"other");
    EXPECT_EQ(Read(L"Config", L"Late", L"d", file), L"d");  // only the first [Config] counts
    EXPECT_EQ(Read(L"Config", L"orphan", L"d", file), L"d");
    EXPECT_EQ(Read(L"Config", L"Missing", L"default  ", file), L"default");
    EXPECT_EQ(Read(L"Missing", L"OEMName", nullptr, file), L"");
    EXPECT_EQ(Read(L"Config", L"OEMName", L"no file", L"./absent.ini"), L"no file");
    // The ".\" spelling of the current folder works too.
    EXPECT_EQ(Read(L"Other", L"Key", L"d", L".\\station.ini"), L"other");

    char narrow[MAX_PATH];
    EXPECT_EQ(GetPrivateProfileStringA("config", "oemNAME", "d", narrow, sizeof narrow, "station.ini"), 9u);
    EXPECT_STREQ(narrow, "\\Example\\");

    std::wstring value;
    EXPECT_TRUE(kiru::platform::ReadProfileValue(file, L"Config", L"Empty", value));
    EXPECT_EQ(value, L"");
    EXPECT_FALSE(kiru::platform::ReadProfileValue(file, L"Config", L"Missing", value));
}

TEST_F(ProfileFiles, LongValuesAreCutToTheBuffer) {
    WriteFile(cwd_ + "/long.ini", "[S]\nK=" + std::string(300, 'v') + "\nU=" + std::string(10, 'x') +
                                     "\xC3\xA9\xC3\xA9\n");
    EXPECT_EQ(FilledLength<wchar_t>([](wchar_t* out) {
                  EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"", out, MAX_PATH, L"long.ini"), MAX_PATH - 1u);
              }),
              MAX_PATH - 1u);
    wchar_t small[4];
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"", small, 4, L"long.ini"), 3u);
    EXPECT_STREQ(small, L"vvv");
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"", small, 0, L"long.ini"), 0u);
    char narrow[12];
    std::memset(narrow, '#', sizeof narrow);
    // 10 ASCII bytes fit with one byte to spare, which is not enough for "é".
    EXPECT_EQ(GetPrivateProfileStringA("S", "U", "", narrow, 12, "long.ini"), 10u);
    EXPECT_STREQ(narrow, "xxxxxxxxxx");
    EXPECT_EQ(narrow[11], '#');
}

TEST(TextConversion, StrayBytesSurviveTheRoundTrip) {
    using kiru::platform::NarrowToWideString;
    using kiru::platform::WideToNarrowString;
    // Bytes that are not UTF-8 (a Latin-1 name, a cut sequence, an overlong
    // slash) survive the round trip unchanged.
    const char stray[] = "a\xE9z \xE2\x82 \xC0\xAF";
    EXPECT_EQ(WideToNarrowString(NarrowToWideString(stray).c_str()), stray);
    EXPECT_EQ(NarrowToWideString("\xC0\xAF").size(), 2u);
    // A lone surrogate that is no escape becomes the replacement character.
    const wchar_t lone[] = {0xD800, 0};
    EXPECT_EQ(WideToNarrowString(lone), "\xEF\xBF\xBD");
}

}  // namespace
