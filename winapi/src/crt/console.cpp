// The CRT's wide print, routed through a console that tests can read. The text goes out as UTF-8
// with narrow writes, so the process's stdout never turns wide-oriented. Standard output is in
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

int DestpickSimWprintf(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::wstring text(256, L'\0');
    int length = 0;
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
    va_end(arguments);
    if (length < 0) {
        return -1;
    }
    text.resize(static_cast<size_t>(length));
    std::string bytes;
    for (char c : sim::ToUtf8(text)) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    if (capturing) {
        Captured() += bytes;
    } else {
        std::fflush(stdout);
        size_t written = 0;
        while (written < bytes.size()) {
            ssize_t n = write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
            if (n <= 0) {
                return -1;
            }
            written += static_cast<size_t>(n);
        }
    }
    return length;
}
