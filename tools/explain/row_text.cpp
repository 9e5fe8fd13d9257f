#include "row_text.h"

#include <algorithm>
#include <cstdio>

namespace {

// The row's fields in their order, each as render makes it, with commas between them.
template <typename Render> std::string EveryField(Render render) {
    std::string text;
    for (size_t i = 0; i < RowFieldCount; ++i) {
        text += (i > 0 ? "," : "") + render(static_cast<RowField>(i));
    }
    return text;
}

// The length of the well-formed UTF-8 sequence at text[at], or 0 when none starts there.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0xC2    ? 0
                          : lead <= 0xDF ? 2
                          : lead <= 0xEF ? 3
                          : lead <= 0xF4 ? 4
                                         : 0;
    // By length: the lowest code point that needs as many bytes.
    const unsigned int lowest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    unsigned int code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= lowest[length] && code <= 0x10FFFF && !surrogate ? length : 0;
}

std::string UnicodeEscape(unsigned int code) {
    char escape[8];
    std::snprintf(escape, sizeof(escape), "\\u%04x", code);
    return escape;
}

} // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string CsvHeader() {
    return EveryField([](RowField field) { return std::string(RowFieldName(field)); }) + "\r\n";
}

std::string CsvLine(const DecisionRow& row) {
    return EveryField([&row](RowField field) { return CsvField(row[field]); }) + "\r\n";
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        // 0 for a byte that starts no UTF-8 sequence.
        const size_t length = c < 0x80 ? 1 : Utf8SequenceLength(text, at);
        if (c == '"' || c == '\\') {
            json += std::string("\\") + static_cast<char>(c);
        } else if (c < 0x20 || length == 0) {
            json += UnicodeEscape(c);
        } else {
            json += text.substr(at, length);
        }
        at += std::max<size_t>(length, 1);
    }
    return json + "\"";
}

std::string JsonMembers(const DecisionRow& row) {
    return EveryField([&row](RowField field) {
        const std::string& value = row[field];
        const std::string shown = !IsNumberField(field) ? JsonString(value)
                                  : value.empty()       ? "null"
                                                        : value;
        return JsonString(RowFieldName(field)) + ":" + shown;
    });
}

std::string JsonLine(const DecisionRow& row) {
    return "{" + JsonMembers(row) + "}\n";
}
