// user32's upper-casing of wide text, as far as the stand-in knows it: the letters of ASCII,
// Latin-1 and Latin Extended-A.
#include <windows.h>

#include <cstdint>

namespace {

uint32_t UpperOf(uint32_t c) {
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return c - 0x20;
    }
    if (c == 0xFF) {
        return 0x178; // ÿ's capital lies outside Latin-1
    }
    // Latin Extended-A pairs capital and small letter, capital first, except in the two runs
    // whose pairs start on an odd code point. Dotless ı, ĸ, ŉ and ſ have no capital partner here.
    bool evenCapitals = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenCapitals && c % 2 == 1 && c != 0x131) || (oddCapitals && c % 2 == 0)) {
        return c - 1;
    }
    return c;
}

} // namespace

LPWSTR WINAPI CharUpperW(LPWSTR text) {
    // A "pointer" with a zero high word is Windows' way of passing a single character by value.
    uintptr_t value = reinterpret_cast<uintptr_t>(text);
    if (value < 0x10000) {
        return reinterpret_cast<LPWSTR>(
            static_cast<uintptr_t>(UpperOf(static_cast<uint32_t>(value))));
    }
    for (WCHAR* p = text; *p != L'\0'; ++p) {
        *p = static_cast<WCHAR>(UpperOf(static_cast<uint32_t>(*p)));
    }
    return text;
}
