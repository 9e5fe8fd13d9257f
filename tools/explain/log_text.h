// Small readers for the pieces of text a destpick log line is made of.
#pragma once

#include "log/log_texts.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

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

// A format of the system's log (log/log_texts.h) as the lines it writes read: its literal pieces
// around its conversions, narrowed, after the "[Disk...] " tag of a disk's line, the last without
// the blanks and line end the reader trims.
const std::vector<std::string>& FormatPieces(const wchar_t* format);
// What the format's first conversion wrote into the text (empty for a format without one);
// nothing when the text cannot have been written with the format.
std::optional<std::string> ConvertedText(const std::string& text, const wchar_t* format);
bool FitsFormat(const std::string& text, const wchar_t* format);
// The way the explainer has always told a line: by its text before the first conversion, without
// the blanks that end it; by the opening or the ending that a family of lines share.
bool OpensWith(const std::string& text, const wchar_t* format);
// The line by the words of that opening before a comma or parenthesis.
bool OpensBeforeDetail(const std::string& text, const wchar_t* format);
bool OpensLikeAll(const std::string& text, std::initializer_list<const wchar_t*> formats);
bool EndsLikeAll(const std::string& text, std::initializer_list<const wchar_t*> formats);
// That text as a number, or as a position (0 to 2147483647); nothing when it is none.
std::optional<std::int64_t> NumberIn(const std::string& text, const wchar_t* format);
std::optional<int> PositionIn(const std::string& text, const wchar_t* format);
// The name a candidate's block gives the field ("Path" in "Drive[%d].Path=%s"), and the opening
// that all the block's lines share ("Drive[").
const std::string& DriveFieldName(DriveField field);
const std::string& DriveFieldOpening();
// The position right after the format's opening, up to the first character of its next piece:
// "New default index [3]" whatever follows.
std::optional<int> LeadingPosition(const std::string& text, const wchar_t* format);
