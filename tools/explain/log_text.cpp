#include "log_text.h"

#include <limits>

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::uint64_t> ParseUnsigned(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const std::uint64_t highest = std::numeric_limits<std::uint64_t>::max();
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (highest - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::int64_t> ParseSigned(const std::string& text) {
    const bool negative = StartsWith(text, "-");
    const std::optional<std::uint64_t> magnitude = ParseUnsigned(negative ? text.substr(1) : text);
    const auto highest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!magnitude || *magnitude > highest + (negative ? 1 : 0)) {
        return std::nullopt;
    }
    if (negative) {
        return *magnitude == highest + 1 ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(*magnitude);
    }
    return static_cast<std::int64_t>(*magnitude);
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
    const std::optional<std::uint64_t> number =
        ParseUnsigned(text.substr(prefix.size(), close - prefix.size()));
    if (!number || *number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    *rest = text.substr(close + 1);
    return static_cast<int>(*number);
}
