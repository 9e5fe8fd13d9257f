// The checks of type and range that description fields take.
#include "description_field.h"

#include <sim/replies.h>

namespace {

constexpr uint64_t kDwordMax = std::numeric_limits<DWORD>::max();
constexpr int64_t kLongMin = std::numeric_limits<LONG>::min();
constexpr int64_t kLongMax = std::numeric_limits<LONG>::max();

} // namespace

namespace sim {

DWORD ErrorCode(const Field& field) {
    return static_cast<DWORD>(field.Unsigned(kDwordMax));
}

DWORD Dword(const Field& field) {
    return static_cast<DWORD>(field.Unsigned(kDwordMax));
}

BYTE Byte(const Field& field) {
    return static_cast<BYTE>(field.Unsigned(0xFF));
}

LONG Long(const Field& field) {
    return static_cast<LONG>(field.Signed(kLongMin, kLongMax));
}

LONGLONG Int64(const Field& field) {
    return field.Signed(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

std::vector<BYTE> HexBytes(const Field& field) {
    const std::wstring text = field.Text();
    std::vector<BYTE> bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L' ') {
            ++i;
            continue;
        }
        const int high = HexDigit(text[i]);
        const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        if (high < 0 || low < 0) {
            field.Refuse("expected hex digits, two per byte, spaces allowed between bytes");
        }
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

} // namespace sim
