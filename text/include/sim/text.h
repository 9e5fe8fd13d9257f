// Text of the machine model: held as UTF-16 units whatever the width of wchar_t, as Windows holds
// it, read from and written to descriptions as UTF-8, and compared as Windows compares names.
#pragma once

#include <string>

namespace sim {

// A pair of surrogates is one character; a lone surrogate, or a unit beyond 16 bits, is none and
// becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
// A character beyond the Basic Multilingual Plane becomes a surrogate pair; bytes that are no
// UTF-8 become U+FFFD.
std::wstring FromUtf8(const std::string& bytes);

// Equal ignoring the case of ASCII letters, as names of devices and instance IDs are compared.
bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b);

} // namespace sim
