// The stand-in's formatted text, user32's wsprintf and strsafe's bounded copy and print, against
// what Windows was seen to do.
#include <windows.h>
#include <strsafe.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Printed {
    std::wstring format;
    std::wstring text;
    int result;
};

Printed Print(LPCWSTR format, ...) {
    WCHAR buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    int result = wvsprintfW(buffer, format, arguments);
    va_end(arguments);
    return {format, buffer, result};
}

struct PrintCase {
    Printed printed;
    std::wstring expected;
};

void ExpectPrinted(const std::vector<PrintCase>& cases) {
    for (const PrintCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.printed.format.c_str());
        EXPECT_EQ(c.printed.text, c.expected);
        EXPECT_EQ(c.printed.result, static_cast<int>(c.expected.size()));
    }
}

TEST(Wsprintf, Integers) {
    ExpectPrinted({
        {Print(L"%4d", 7), L"   7"},
        {Print(L"%-4d|", 7), L"7   |"},
        {Print(L"%02d", 7), L"07"},
        {Print(L"%02d", 123), L"123"},
        {Print(L"%01d", 7), L"7"},
        {Print(L"%02d", -3), L"-3"},
        {Print(L"%08d", -42), L"-0000042"},
        {Print(L"%i", -2147483647 - 1), L"-2147483648"},
        {Print(L"%08X", 0xbeef), L"0000BEEF"},
        {Print(L"%08lX", 0x1f), L"0000001F"},
        {Print(L"%02lX", 0xabc), L"ABC"},
        {Print(L"%x", 0xDEADu), L"dead"},
        {Print(L"%u", -7), L"4294967289"},
        {Print(L"%#x", 255), L"0xff"},
        {Print(L"%#08x", 0xAB), L"0x000000ab"},
        {Print(L"%hd", 70000), L"70000"},
        {Print(L"%I64u", static_cast<LONGLONG>(-1176000)), L"18446744073708375616"},
        {Print(L"%I64d", static_cast<LONGLONG>(-1176000)), L"-1176000"},
        {Print(L"%I64X", 0x123456789ABCDEFull), L"123456789ABCDEF"},
        {Print(L"%Iu", static_cast<ULONG_PTR>(1) << 40), L"1099511627776"},
    });
}

TEST(Wsprintf, Text) {
    std::wstring longText(50, L'z');
    ExpectPrinted({
        {Print(L"%s", L"wide"), L"wide"},
        {Print(L"%S|%hs|%ls|%ws", "a", "b", L"c", L"d"), L"a|b|c|d"},
        {Print(L"%.36s", longText.c_str()), std::wstring(36, L'z')},
        {Print(L"%.0s", longText.c_str()), longText},
        {Print(L"[%10s]", L"abc"), L"[       abc]"},
        {Print(L"[%-10s]", L"abc"), L"[abc       ]"},
        {Print(L"%s|%S", static_cast<LPCWSTR>(nullptr), static_cast<const char*>(nullptr)),
         L"(null)|(null)"},
        {Print(L"%c%C%3c", L'\x00E9', 'b', L'c'), L"\x00E9"
                                                  L"b  c"},
        // Narrow text is read in the ANSI code page.
        {Print(L"%S%C", "\x80", '\x93'), L"\x20AC\x201C"},
    });
}

TEST(Wsprintf, LiteralAndUnsupportedConversions) {
    ExpectPrinted({
        {Print(L"100%%"), L"100%"},
        {Print(L"[%y%d]", 1, 2), L"[y1]"},
        {Print(L"%f|%d", 3), L"f|3"},
        {Print(L"%+d|%d", 3), L"+d|3"},
        {Print(L"% d|%d", 3), L" d|3"},
        {Print(L"%*d|%d", 3), L"*d|3"},
        {Print(L"%lld|%d", 3), L"ld|3"},
        {Print(L"%zu|%d", 3), L"zu|3"},
        {Print(L"trailing%"), L"trailing"},
    });
}

TEST(Wsprintf, StopsAt1023CharactersAndTheTerminator) {
    const std::wstring argument(2000, L'x');
    std::vector<WCHAR> buffer(1200, L'#');
    EXPECT_EQ(wsprintfW(buffer.data(), L"[%s]", argument.c_str()), 1023);
    EXPECT_EQ(std::wstring(buffer.data()), L"[" + argument.substr(0, 1022));
    // Padding is cut at the same place.
    EXPECT_EQ(wsprintfW(buffer.data(), L"%2000d", 5), 1023);
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(1023, L' '));
    EXPECT_EQ(std::count(buffer.begin() + 1024, buffer.end(), L'#'), 1200 - 1024);
}

struct StrsafeCase {
    size_t size;
    HRESULT result;
    const wchar_t* text; // nullptr: the destination is left as it was
};

TEST(Strsafe, CopyAndPrintTruncateOrRefuse) {
    const StrsafeCase cases[] = {
        {4, STRSAFE_E_INSUFFICIENT_BUFFER, L"abc"},
        {5, S_OK, L"abcd"},
        {1, STRSAFE_E_INSUFFICIENT_BUFFER, L""},
        {0, STRSAFE_E_INVALID_PARAMETER, nullptr},
        {static_cast<size_t>(STRSAFE_MAX_CCH) + 1, STRSAFE_E_INVALID_PARAMETER, nullptr},
    };
    for (const StrsafeCase& c : cases) {
        for (bool printing : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "size " << c.size << (printing ? " print" : " copy"));
            WCHAR buffer[8] = L"keep";
            HRESULT result = printing ? StringCchPrintfW(buffer, c.size, L"ab%s", L"cd")
                                      : StringCchCopyW(buffer, c.size, L"abcd");
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(std::wstring(buffer), c.text != nullptr ? c.text : L"keep");
        }
    }
}

TEST(Strsafe, PrintHasNoWsprintfLimit) {
    const std::wstring argument(2000, L'x');
    std::vector<WCHAR> buffer(3000);
    ASSERT_EQ(StringCchPrintfW(buffer.data(), buffer.size(), L"%s %d %01d %u", argument.c_str(), -5,
                               7, 4000000000u),
              S_OK);
    EXPECT_EQ(std::wstring(buffer.data()), argument + L" -5 7 4000000000");
}

} // namespace
