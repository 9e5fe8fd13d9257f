// The stand-in's code page and case services, the ANSI conversion and user32's upper-casing,
// against what Windows was seen to do.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct AnsiCase {
    std::wstring wide;
    std::string bytes;
    BOOL usedDefault;
};

TEST(WideCharToMultiByte, MapsToWindows1252) {
    const AnsiCase cases[] = {
        {L"plain", "plain", FALSE},
        {L"\x00E9\x00FF\x00A0", "\xE9\xFF\xA0", FALSE},
        {L"\x20AC\x201C\x201D\x2122", "\x80\x93\x94\x99", FALSE},
        // Letters 1252 holds exactly are not reduced to their base letter.
        {L"\x0160\x0153\x0178", "\x8A\x9C\x9F", FALSE},
        {L"\x0100\x0142\x010D", "Alc", FALSE},
        {L"\x0133\x014B", "??", TRUE},
        {L"\x4E2D", "?", TRUE},
        {L"a\xD83D\xDE00"
         L"b",
         "a??b", TRUE},
    };
    for (const AnsiCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.wide.c_str());
        int length = static_cast<int>(c.wide.size());
        EXPECT_EQ(
            WideCharToMultiByte(CP_ACP, 0, c.wide.c_str(), length, nullptr, 0, nullptr, nullptr),
            static_cast<int>(c.bytes.size()));
        char out[16];
        BOOL usedDefault = -1;
        int written = WideCharToMultiByte(CP_ACP, 0, c.wide.c_str(), length, out, sizeof out,
                                          nullptr, &usedDefault);
        EXPECT_EQ(std::string(out, written > 0 ? written : 0), c.bytes);
        EXPECT_EQ(usedDefault, c.usedDefault);
    }
}

TEST(WideCharToMultiByte, LengthsAndBuffers) {
    char out[8] = "-------";
    // -1 converts and counts the terminator; a surrogate pair still takes two bytes.
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a\U0001F600", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a\U0001F600", -1, out, 8, nullptr, nullptr), 4);
    EXPECT_STREQ(out, "a??");

    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\x4E2D", 1, out, 8, "*", nullptr), 1);
    EXPECT_EQ(out[0], '*');

    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abcdef", 6, out, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(WideCharToMultiByte, RejectsInvalidArguments) {
    struct Case {
        UINT codePage;
        LPCWSTR text;
        int length;
        int outLength;
    } const cases[] = {
        {65001, L"a", 1, 4}, {CP_ACP, nullptr, 1, 4}, {CP_ACP, L"a", 0, 4}, {CP_ACP, L"a", 1, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code page " << c.codePage << ", lengths " << c.length
                                        << " and " << c.outLength);
        char out[4] = "xyz";
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, c.text, c.length, out, c.outLength, nullptr,
                                      nullptr),
                  0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_STREQ(out, "xyz");
    }
}

TEST(CharUpperW, UpperCasesInPlaceAndSingleCharacters) {
    WCHAR text[] = L"az09-\x00E0\x00FE\x00F7\x00DF\x00FF\x0101\x013A\x0131";
    EXPECT_EQ(CharUpperW(text), text);
    EXPECT_EQ(std::wstring(text), L"AZ09-\x00C0\x00DE\x00F7\x00DF\x0178\x0100\x0139\x0131");

    auto single = [](ULONG_PTR c) {
        return reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(c)));
    };
    EXPECT_EQ(single(L'q'), static_cast<ULONG_PTR>(L'Q'));
    EXPECT_EQ(single(0xE9), 0xC9u);
    EXPECT_EQ(single(L'5'), static_cast<ULONG_PTR>(L'5'));
}

} // namespace
