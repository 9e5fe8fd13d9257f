// Small readers for the pieces of text a destpick log line is made of.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

bool StartsWith(const std::string& text, const std::string& prefix);
bool EndsWith(const std::string& text, const std::string& suffix);

// A whole decimal number, with an optional minus sign; nothing else may surround it.
std::optional<std::int64_t> ParseSigned(const std::string& text);
// A whole decimal number as "%I64u" prints it, up to 18446744073709551615.
std::optional<std::uint64_t> ParseUnsigned(const std::string& text);

// The number in "<prefix><number>]<rest>", with rest set to what follows the bracket; nothing
// when the text does not have that shape or the number is no position (0 to 2147483647).
std::optional<int> BracketedPosition(const std::string& text, const std::string& prefix,
                                     std::string* rest);
