// Conversions between the model's UTF-16 text and the UTF-8 of descriptions, and name comparison.
#include <sim/text.h>

#include <algorithm>
#include <cstdint>

namespace sim {

// Text is held as UTF-16 units whatever the width of wchar_t, as on Windows: a pair of
// surrogates is one character, a lone surrogate is no character at all.
std::string ToUtf8(const std::wstring& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const uint32_t next = i + 1 < text.size() ? static_cast<uint32_t>(text[i + 1]) : 0;
        if (high && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        // The lead byte by the number of continuation bytes, each of which carries 6 bits.
        const uint32_t leads[] = {0x00, 0xC0, 0xE0, 0xF0};
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        bytes += static_cast<char>(leads[extra] | (c >> (6 * extra)));
        for (int k = extra - 1; k >= 0; --k) {
            bytes += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
        }
    }
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    std::wstring text;
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        int extra = lead < 0x80         ? 0
                    : (lead >> 5) == 6  ? 1
                    : (lead >> 4) == 14 ? 2
                    : (lead >> 3) == 30 ? 3
                                        : -1;
        uint32_t c = extra <= 0 ? lead : lead & (0x3Fu >> extra);
        bool valid = extra >= 0;
        for (size_t k = 1; valid && k <= static_cast<size_t>(extra); ++k) {
            const unsigned char next =
                i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (!valid || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            text += static_cast<wchar_t>(0xFFFD);
        } else if (c >= 0x10000) {
            text += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            text += static_cast<wchar_t>(c);
        }
        // Bytes that are no UTF-8 stand for one U+FFFD each.
        i += valid ? static_cast<size_t>(extra) + 1 : 1;
    }
    return text;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    const auto upper = [](wchar_t c) {
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&upper](wchar_t x, wchar_t y) { return upper(x) == upper(y); });
}

} // namespace sim
