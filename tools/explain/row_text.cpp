#include "row_text.h"

#include <cstdio>

namespace {

RowField FieldAt(size_t index) {
    return static_cast<RowField>(index);
}

// The length of the well-formed UTF-8 sequence at text[at], or 0 when none starts there.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned int lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
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
    return code >= lowest && code <= 0x10FFFF && !surrogate ? length : 0;
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
    std::string line;
    for (size_t i = 0; i < RowFieldCount; ++i) {
        line += (i > 0 ? "," : "") + std::string(RowFieldName(FieldAt(i)));
    }
    return line + "\r\n";
}

std::string CsvLine(const DecisionRow& row) {
    std::string line;
    for (size_t i = 0; i < RowFieldCount; ++i) {
        line += (i > 0 ? "," : "") + CsvField(row.values[i]);
    }
    return line + "\r\n";
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            json += std::string("\\") + static_cast<char>(c);
        } else if (c < 0x20) {
            json += UnicodeEscape(c);
        } else if (c >= 0x80) {
            const size_t length = Utf8SequenceLength(text, at);
            if (length == 0) {
                json += UnicodeEscape(c);
                ++at;
                continue;
            }
            json += text.substr(at, length);
            at += length;
            continue;
        } else {
            json += static_cast<char>(c);
        }
        ++at;
    }
    return json + "\"";
}

std::string JsonMembers(const DecisionRow& row) {
    std::string members;
    for (size_t i = 0; i < RowFieldCount; ++i) {
        const RowField field = FieldAt(i);
        const std::string& value = row.values[i];
        const std::string shown = value.empty() && IsNumberField(field) ? "null"
                                  : IsNumberField(field)                ? value
                                                                        : JsonString(value);
        members += (i > 0 ? "," : "") + JsonString(RowFieldName(field)) + ":" + shown;
    }
    return members;
}

std::string JsonLine(const DecisionRow& row) {
    return "{" + JsonMembers(row) + "}\n";
}
