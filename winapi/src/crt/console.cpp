// The CRT's wide print, routed through a console that tests can read. The text goes out as UTF-8
// with narrow writes, so the process's stdout and stderr never turn wide-oriented. Both are in
// the CRT's text mode, as on Windows: every line feed goes out as carriage return and line feed.
#include <sim/standin.h>
#include <sim/text.h>

#include <unistd.h>

namespace {

bool capturing = false;

std::string& Captured() {
    static std::string text;
    return text;
}

} // namespace

namespace sim {

void CaptureConsole(bool capture) {
    capturing = capture;
    Captured().clear();
}

std::string ConsoleText() {
    return Captured();
}

} // namespace sim

namespace {

// The text as the CRT's wide print formats it, in UTF-8 with every line feed made CRLF, as text
// mode writes it; false when the format cannot be applied.
bool Formatted(const wchar_t* format, va_list arguments, std::string& bytes, int& length) {
    std::wstring text(256, L'\0');
    for (;;) {
        va_list attempt;
        va_copy(attempt, arguments);
        length = std::vswprintf(&text[0], text.size(), format, attempt);
        va_end(attempt);
        if (length >= 0 || text.size() > (1u << 20)) {
            break;
        }
        text.resize(text.size() * 2);
    }
    if (length < 0) {
        return false;
    }
    text.resize(static_cast<size_t>(length));
    for (char c : sim::ToUtf8(text)) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return true;
}

bool WriteAll(FILE* stream, const std::string& bytes) {
    std::fflush(stream);
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(fileno(stream), bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

int Print(FILE* stream, const wchar_t* format, va_list arguments) {
    std::string bytes;
    int length = 0;
    if (!Formatted(format, arguments, bytes, length)) {
        return -1;
    }
    if (stream == stdout && capturing) {
        Captured() += bytes;
        return length;
    }
    return WriteAll(stream, bytes) ? length : -1;
}

} // namespace

int DestpickSimWprintf(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = Print(stdout, format, arguments);
    va_end(arguments);
    return length;
}

int DestpickSimFwprintf(FILE* stream, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int length = Print(stream, format, arguments);
    va_end(arguments);
    return length;
}
