// Formatted text of the stand-in: user32's wsprintf family and the formatter behind it, which
// strsafe's prints share. The callers differ only in how much room they give it and in how they
// report running out of it.
#include "user32/wide_format.h"

#include "kernel32/codepage.h"

#include <strsafe.h>

#include <algorithm>

namespace {

// user32 writes at most this many WCHARs, terminator included, whatever the caller's buffer.
constexpr size_t kWsprintfLimit = 1024;

// Widths and precisions beyond any buffer the API accepts behave like the largest one; capping
// them keeps the arithmetic below from overflowing on hostile formats.
constexpr size_t kCountCeiling = STRSAFE_MAX_CCH;

// Writes into a caller's buffer of `capacity` WCHARs, always keeping room for the terminator.
class Sink {
  public:
    Sink(WCHAR* out, size_t capacity) : out_(out), capacity_(capacity) {}

    bool Put(WCHAR c) {
        if (length_ + 1 >= capacity_) {
            overflowed_ = true;
            return false;
        }
        out_[length_++] = c;
        return true;
    }

    void Pad(size_t count, WCHAR fill) {
        while (count-- > 0 && Put(fill)) {
        }
    }

    // True once some character did not fit, which is what strsafe reports as truncation.
    bool Overflowed() const {
        return overflowed_;
    }

    size_t Finish() {
        out_[length_] = L'\0';
        return length_;
    }

  private:
    WCHAR* out_;
    size_t capacity_;
    size_t length_ = 0;
    bool overflowed_ = false;
};

enum class ArgumentSize { Default, Short, Long, Int64, Pointer };

struct Conversion {
    bool leftAlign = false;
    bool alternate = false;
    bool zeroPad = false;
    size_t width = 0;
    size_t precision = 0; // 0: none given, which for strings also means no limit
    ArgumentSize size = ArgumentSize::Default;
    WCHAR type = L'\0';
};

// A va_list parameter cannot be handed on by address portably (it may be an array type), so the
// formatter works on its own copy wrapped in a structure.
struct Arguments {
    va_list list;
};

// Steps over the character when the format has it there.
bool Take(const WCHAR*& p, WCHAR c) {
    if (*p != c) {
        return false;
    }
    ++p;
    return true;
}

size_t ParseCount(const WCHAR*& p) {
    size_t count = 0;
    while (*p >= L'0' && *p <= L'9') {
        count = std::min(count * 10 + static_cast<size_t>(*p - L'0'), kCountCeiling);
        ++p;
    }
    return count;
}

// Puts `body` characters produced by `emit` into a field of the conversion's width.
template <typename Emit>
void PutField(Sink& sink, const Conversion& conversion, size_t body, Emit emit) {
    size_t padding = conversion.width > body ? conversion.width - body : 0;
    if (!conversion.leftAlign) {
        sink.Pad(padding, L' ');
    }
    emit();
    if (conversion.leftAlign) {
        sink.Pad(padding, L' ');
    }
}

void PutInteger(Sink& sink, const Conversion& conversion, Arguments& arguments) {
    bool isSigned = conversion.type == L'd' || conversion.type == L'i';
    // 'l' and 'h' leave the 32-bit default alone: long is 32-bit on Windows, and user32 does not
    // narrow a short (%hd of 70000 prints 70000).
    ULONGLONG bits = 0;
    bool negative = false;
    switch (conversion.size) {
    case ArgumentSize::Int64:
        bits = va_arg(arguments.list, ULONGLONG);
        negative = isSigned && static_cast<LONGLONG>(bits) < 0;
        break;
    case ArgumentSize::Pointer:
        bits = va_arg(arguments.list, ULONG_PTR);
        negative = isSigned && static_cast<LONG_PTR>(bits) < 0;
        if (negative) {
            bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(static_cast<LONG_PTR>(bits)));
        }
        break;
    default:
        if (isSigned) {
            int value = va_arg(arguments.list, int);
            negative = value < 0;
            bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(value));
        } else {
            bits = va_arg(arguments.list, unsigned int);
        }
        break;
    }
    ULONGLONG magnitude = negative ? ~bits + 1 : bits;

    bool hex = conversion.type == L'x' || conversion.type == L'X';
    const wchar_t* digitSet = conversion.type == L'X' ? L"0123456789ABCDEF" : L"0123456789abcdef";
    unsigned base = hex ? 16 : 10;
    WCHAR digits[24];
    size_t digitCount = 0;
    do {
        digits[digitCount++] = digitSet[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);

    size_t signWidth = negative ? 1 : 0;
    size_t prefixWidth = hex && conversion.alternate ? 2 : 0;
    size_t shown = std::max(digitCount, conversion.precision);
    // Zero padding fills the width with digits after the sign; the 0x prefix comes on top of the
    // width (%#08x of 0xAB gives 0x000000ab).
    if (conversion.zeroPad && !conversion.leftAlign && conversion.width > signWidth + shown) {
        shown = conversion.width - signWidth;
    }
    PutField(sink, conversion, signWidth + prefixWidth + shown, [&] {
        if (negative) {
            sink.Put(L'-');
        }
        if (prefixWidth != 0) {
            sink.Put(L'0');
            sink.Put(conversion.type);
        }
        sink.Pad(shown - digitCount, L'0');
        while (digitCount > 0) {
            sink.Put(digits[--digitCount]);
        }
    });
}

// In the W functions the lower-case type is wide and the upper-case one narrow; 'l'/'w' force
// wide and 'h' forces narrow whichever case the type has.
bool IsWide(const Conversion& conversion) {
    if (conversion.size == ArgumentSize::Long) {
        return true;
    }
    if (conversion.size == ArgumentSize::Short) {
        return false;
    }
    return conversion.type == L's' || conversion.type == L'c';
}

template <typename Char, typename Widen>
void PutString(Sink& sink, const Conversion& conversion, const Char* text, Widen widen) {
    size_t length = 0;
    while (text[length] != 0 && (conversion.precision == 0 || length < conversion.precision)) {
        ++length;
    }
    PutField(sink, conversion, length, [&] {
        for (size_t i = 0; i < length && sink.Put(widen(text[i])); ++i) {
        }
    });
}

void PutText(Sink& sink, const Conversion& conversion, Arguments& arguments) {
    if (IsWide(conversion)) {
        const WCHAR* text = va_arg(arguments.list, const WCHAR*);
        PutString(sink, conversion, text != nullptr ? text : L"(null)", [](WCHAR c) { return c; });
    } else {
        const char* text = va_arg(arguments.list, const char*);
        PutString(sink, conversion, text != nullptr ? text : "(null)",
                  [](char c) { return sim::AnsiByteToWide(static_cast<unsigned char>(c)); });
    }
}

void PutCharacter(Sink& sink, const Conversion& conversion, Arguments& arguments) {
    int value = va_arg(arguments.list, int);
    WCHAR c = IsWide(conversion) ? static_cast<WCHAR>(value)
                                 : sim::AnsiByteToWide(static_cast<unsigned char>(value));
    PutField(sink, conversion, 1, [&] { sink.Put(c); });
}

void Format(Sink& sink, const WCHAR* format, va_list source) {
    Arguments arguments;
    va_copy(arguments.list, source);
    const WCHAR* p = format;
    while (*p != L'\0' && !sink.Overflowed()) {
        if (*p != L'%') {
            sink.Put(*p++);
            continue;
        }
        ++p;
        Conversion conversion;
        // The flags are recognised in this order only: user32 does not take them in any order.
        conversion.leftAlign = Take(p, L'-');
        conversion.alternate = Take(p, L'#');
        conversion.zeroPad = Take(p, L'0');
        conversion.width = ParseCount(p);
        if (Take(p, L'.')) {
            conversion.precision = ParseCount(p);
        }
        if (Take(p, L'l') || Take(p, L'w')) {
            conversion.size = ArgumentSize::Long;
        } else if (Take(p, L'h')) {
            conversion.size = ArgumentSize::Short;
        } else if (Take(p, L'I')) {
            if (p[0] == L'6' && p[1] == L'4') {
                conversion.size = ArgumentSize::Int64;
                p += 2;
            } else {
                conversion.size = ArgumentSize::Pointer;
            }
        }
        conversion.type = *p;
        if (conversion.type == L'\0') {
            break; // an unfinished conversion at the end prints nothing
        }
        ++p;
        switch (conversion.type) {
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
            PutInteger(sink, conversion, arguments);
            break;
        case L's':
        case L'S':
            PutText(sink, conversion, arguments);
            break;
        case L'c':
        case L'C':
            PutCharacter(sink, conversion, arguments);
            break;
        default:
            // '%%' and every type user32 does not know (%f, %+d, %lld ...) come out as the type
            // character itself, taking no argument.
            sink.Put(conversion.type);
            break;
        }
    }
    va_end(arguments.list);
}

} // namespace

namespace sim {

bool FormatWide(WCHAR* output, size_t capacity, const WCHAR* format, va_list arguments) {
    Sink sink(output, capacity);
    Format(sink, format, arguments);
    sink.Finish();
    return !sink.Overflowed();
}

} // namespace sim

int WINAPI wvsprintfW(LPWSTR output, LPCWSTR format, va_list arguments) {
    if (output == nullptr) {
        return 0;
    }
    Sink sink(output, kWsprintfLimit);
    Format(sink, format != nullptr ? format : L"", arguments);
    // Microsoft documents the result as the count stored, so at the limit it is 1023.
    return static_cast<int>(sink.Finish());
}

int WINAPI wsprintfW(LPWSTR output, LPCWSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = wvsprintfW(output, format, arguments);
    va_end(arguments);
    return result;
}
