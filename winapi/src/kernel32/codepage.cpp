// Code-page services of the stand-in. The ANSI code page is Windows-1252, Windows' code page for
// Western European languages; the host's UTF-32 wchar_t is read as the UTF-16 text Windows would
// hold.
#include "kernel32/codepage.h"

#include "standin/failure.h"

#include <cstdint>

namespace {

// Windows-1252 is Latin-1 except for 0x80..0x9F. The five bytes it leaves undefined map to the C1
// controls of the same value in both directions, as Windows' own table has them.
constexpr WCHAR kHighBytes[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};

// Best fit for Latin Extended-A (U+0100..U+017F): each letter's base letter, '?' where there is
// no single one (Ĳ, ĸ, ŉ, Ŋ). The letters 1252 holds exactly (Œ, Š, Ÿ, Ž and their lower cases)
// never get here; their places read as the base letter or '?' only to keep the rows aligned.
constexpr char kLatinExtendedABestFit[] = "AaAaAaCcCcCcCcDd"  // U+0100
                                          "DdEeEeEeEeEeGgGg"  // U+0110
                                          "GgGgHhHhIiIiIiIi"  // U+0120
                                          "Ii??JjKk?LlLlLlL"  // U+0130
                                          "lLlNnNnNn???OoOo"  // U+0140
                                          "Oo??RrRrRrSsSsSs"  // U+0150
                                          "SsTtTtTtUuUuUuUu"  // U+0160
                                          "UuUuWwYyYZzZzZzs"; // U+0170
static_assert(sizeof(kLatinExtendedABestFit) == 0x80 + 1, "one byte per Latin Extended-A letter");

// The 1252 byte for one wide character, or -1 when only the default character will do.
int AnsiByteFor(uint32_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<int>(unit);
    }
    for (int i = 0; i < 32; ++i) {
        if (static_cast<uint32_t>(kHighBytes[i]) == unit) {
            return 0x80 + i;
        }
    }
    if (unit >= 0x100 && unit <= 0x17F) {
        char fit = kLatinExtendedABestFit[unit - 0x100];
        if (fit != '?') {
            return fit;
        }
    }
    return -1;
}

} // namespace

namespace sim {

WCHAR AnsiByteToWide(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighBytes[byte - 0x80] : static_cast<WCHAR>(byte);
}

} // namespace sim

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wideText, int wideLength,
                               LPSTR multiByteText, int multiByteLength, LPCSTR defaultChar,
                               LPBOOL usedDefaultChar) {
    if (codePage != CP_ACP || wideText == nullptr || wideLength == 0 || wideLength < -1 ||
        multiByteLength < 0 || (multiByteLength > 0 && multiByteText == nullptr) ||
        static_cast<const void*>(wideText) == static_cast<const void*>(multiByteText)) {
        return sim::Fail(ERROR_INVALID_PARAMETER, 0);
    }
    size_t units = wideLength == -1 ? wcslen(wideText) + 1 : static_cast<size_t>(wideLength);
    char replacement = defaultChar != nullptr ? *defaultChar : '?';
    bool replaced = false;
    int produced = 0;
    bool sizing = multiByteLength == 0;
    bool tooSmall = false;
    auto emit = [&](char byte) {
        if (!sizing) {
            if (produced == multiByteLength) {
                tooSmall = true;
                return;
            }
            multiByteText[produced] = byte;
        }
        ++produced;
    };
    for (size_t i = 0; i < units && !tooSmall; ++i) {
        const uint32_t unit = static_cast<uint32_t>(wideText[i]);
        const int byte = AnsiByteFor(unit);
        replaced = replaced || byte < 0;
        emit(byte < 0 ? replacement : static_cast<char>(byte));
        // Windows holds a unit beyond U+FFFF as a surrogate pair, and each half is unmappable on
        // its own.
        if (unit > 0xFFFF) {
            emit(replacement);
        }
    }
    if (tooSmall) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = replaced ? TRUE : FALSE;
    }
    return produced;
}
