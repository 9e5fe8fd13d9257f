// The checks of type and range that description fields take.
#include "description_field.h"

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
    int high = -1;
    for (wchar_t c : text) {
        if (c == L' ' && high < 0) {
            continue;
        }
        int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                    : c >= L'a' && c <= L'f' ? c - L'a' + 10
                    : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                             : -1;
        if (digit < 0) {
            field.Refuse("expected hex digits, two per byte, spaces allowed between bytes");
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<BYTE>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        field.Refuse("expected hex digits, two per byte, spaces allowed between bytes");
    }
    return bytes;
}

} // namespace sim
