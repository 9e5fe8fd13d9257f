#include "log_text.h"

#include "sim/text.h"

#include <algorithm>
#include <charconv>
#include <map>

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

namespace {

// The whole text as a T, as std::from_chars reads it: decimal digits, a minus sign only for a
// signed T, no blank or plus sign, nothing out of range.
template <typename T> std::optional<T> Whole(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    return read.ec == std::errc() && read.ptr == end ? std::optional<T>(value) : std::nullopt;
}

std::optional<int> Position(const std::string& text) {
    return StartsWith(text, "-") ? std::nullopt : Whole<int>(text);
}

} // namespace

std::optional<std::uint64_t> ParseUnsigned(const std::string& text) {
    return Whole<std::uint64_t>(text);
}

std::optional<std::int64_t> ParseSigned(const std::string& text) {
    return Whole<std::int64_t>(text);
}

std::optional<int> BracketedPosition(const std::string& text, const std::string& prefix,
                                     std::string* rest) {
    if (!StartsWith(text, prefix)) {
        return std::nullopt;
    }
    const size_t close = text.find(']', prefix.size());
    if (close == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<int> position = Position(text.substr(prefix.size(), close - prefix.size()));
    if (position) {
        *rest = text.substr(close + 1);
    }
    return position;
}

namespace {

std::vector<std::string> SplitFormat(const wchar_t* format) {
    std::string text = sim::ToUtf8(format);
    if (StartsWith(text, "[Disk")) {
        text.erase(0, text.find("] ") + 2);
    }
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            // A hexadecimal number's "0x" belongs to the number.
            if (EndsWith(pieces.back(), "0x")) {
                pieces.back().resize(pieces.back().size() - 2);
            }
            i = text.find_first_not_of("-+ #0123456789.lhI", i + 1);
            pieces.emplace_back();
        } else {
            pieces.back() += text[i];
        }
    }
    pieces.back().erase(pieces.back().find_last_not_of(" \t\r\n") + 1);
    return pieces;
}

} // namespace

const std::vector<std::string>& FormatPieces(const wchar_t* format) {
    // Every line is held against many formats: each is split once, per thread for the fleet's
    // workers.
    thread_local std::map<const wchar_t*, std::vector<std::string>> split;
    auto found = split.find(format);
    if (found == split.end()) {
        found = split.emplace(format, SplitFormat(format)).first;
    }
    return found->second;
}

std::optional<std::string> ConvertedText(const std::string& text, const wchar_t* format) {
    const std::vector<std::string>& pieces = FormatPieces(format);
    if (pieces.size() == 1) {
        return text == pieces[0] ? std::optional<std::string>("") : std::nullopt;
    }
    const size_t begin = pieces[0].size();
    const size_t last = text.size() - std::min(text.size(), pieces.back().size());
    if (!StartsWith(text, pieces[0]) || !EndsWith(text, pieces.back()) || last < begin) {
        return std::nullopt;
    }
    size_t end = last;
    for (size_t k = 1, at = begin; k + 1 < pieces.size(); at += pieces[k++].size()) {
        at = text.find(pieces[k], at);
        if (at == std::string::npos || at + pieces[k].size() > last) {
            return std::nullopt;
        }
        end = k == 1 ? at : end;
    }
    return text.substr(begin, end - begin);
}

bool FitsFormat(const std::string& text, const wchar_t* format) {
    return ConvertedText(text, format).has_value();
}

bool OpensWith(const std::string& text, const wchar_t* format) {
    const std::string& opening = FormatPieces(format)[0];
    const size_t told = opening.find_last_not_of(' ') + 1;
    return text.compare(0, told, opening, 0, told) == 0;
}

bool OpensBeforeDetail(const std::string& text, const wchar_t* format) {
    const std::string& opening = FormatPieces(format)[0];
    const size_t told =
        std::min({opening.find(", "), opening.find(" ("), opening.find_last_not_of(' ') + 1});
    return text.compare(0, told, opening, 0, told) == 0;
}

bool OpensLikeAll(const std::string& text, std::initializer_list<const wchar_t*> formats) {
    std::string shared = FormatPieces(*formats.begin())[0];
    for (const wchar_t* format : formats) {
        const std::string& opening = FormatPieces(format)[0];
        shared.erase(
            std::mismatch(shared.begin(), shared.end(), opening.begin(), opening.end()).first,
            shared.end());
    }
    return StartsWith(text, shared);
}

bool EndsLikeAll(const std::string& text, std::initializer_list<const wchar_t*> formats) {
    std::string shared = FormatPieces(*formats.begin()).back();
    for (const wchar_t* format : formats) {
        const std::string& ending = FormatPieces(format).back();
        shared.erase(shared.begin(),
                     std::mismatch(shared.rbegin(), shared.rend(), ending.rbegin(), ending.rend())
                         .first.base());
    }
    return EndsWith(text, shared);
}

std::optional<std::int64_t> NumberIn(const std::string& text, const wchar_t* format) {
    return ParseSigned(ConvertedText(text, format).value_or(""));
}

std::optional<int> PositionIn(const std::string& text, const wchar_t* format) {
    return Position(ConvertedText(text, format).value_or(""));
}

std::optional<int> LeadingPosition(const std::string& text, const wchar_t* format) {
    const std::vector<std::string>& pieces = FormatPieces(format);
    const size_t end = text.find(pieces[1][0], pieces[0].size());
    if (!StartsWith(text, pieces[0]) || end == std::string::npos) {
        return std::nullopt;
    }
    return Position(text.substr(pieces[0].size(), end - pieces[0].size()));
}

const std::string& DriveFieldName(DriveField field) {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const wchar_t* line : DriveFieldLines) {
            // The piece between the position and the value: "].<name>=".
            const std::string& piece = FormatPieces(line)[1];
            const size_t name = piece.find('.') + 1;
            all.push_back(piece.substr(name, piece.size() - 1 - name));
        }
        return all;
    }();
    return names[field];
}

const std::string& DriveFieldOpening() {
    return FormatPieces(DriveFieldLines[DrivePath])[0];
}
