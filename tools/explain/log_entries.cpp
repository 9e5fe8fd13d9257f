#include "log_entries.h"

#include <cctype>
#include <cstddef>

namespace {

const char MaskedStamp[] = "[stamp] ";
const size_t MaskedStampLength = sizeof(MaskedStamp) - 1;
// "[YYYY.MM.DD-hh:mm:ss] "; the year is printed with "%4d", so it may lead with blanks.
const char StampShape[] = "[9999.99.99-99:99:99] ";
const size_t StampLength = sizeof(StampShape) - 1;
// The tool writes at most 1023 characters per entry, stamp included. An entry cut at that length
// loses its line ending, and the next entry follows on the same line: a stamp found after this
// many characters of message starts an entry of its own. One found earlier is part of the text.
const size_t CutMessageLength = 1023 - StampLength;

bool StampCharFits(char shape, char c, size_t position) {
    if (shape != '9') {
        return c == shape;
    }
    const bool yearDigit = position >= 1 && position <= 4;
    return std::isdigit(static_cast<unsigned char>(c)) != 0 || (yearDigit && c == ' ');
}

// The length of the stamp that starts text at offset, or 0 when none does.
size_t StampAt(const std::string& text, size_t offset) {
    if (text.compare(offset, MaskedStampLength, MaskedStamp) == 0) {
        return MaskedStampLength;
    }
    if (text.size() - offset < StampLength) {
        return 0;
    }
    for (size_t i = 0; i < StampLength; ++i) {
        if (!StampCharFits(StampShape[i], text[offset + i], i)) {
            return 0;
        }
    }
    return StampLength;
}

std::string TrimmedEnd(const std::string& text, size_t begin, size_t end) {
    while (end > begin &&
           (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// One complete line: its entry, and those of entries cut short before it on the same line.
void SplitLine(const std::string& line, const std::function<void(const LogEntry&)>& onEntry) {
    size_t stampLength = StampAt(line, 0);
    if (stampLength == 0) {
        return;
    }
    size_t start = 0;
    while (start < line.size()) {
        const size_t messageStart = start + stampLength;
        size_t next = line.size();
        size_t nextStampLength = 0;
        for (size_t at = messageStart + CutMessageLength; at < line.size(); ++at) {
            nextStampLength = StampAt(line, at);
            if (nextStampLength != 0) {
                next = at;
                break;
            }
        }
        LogEntry entry;
        entry.stamp = line.substr(start + 1, stampLength - 3);
        entry.message = TrimmedEnd(line, messageStart, next);
        onEntry(entry);
        start = next;
        stampLength = nextStampLength;
    }
}

} // namespace

bool ReadLogEntries(std::istream& log, const std::function<void(const LogEntry&)>& onEntry) {
    std::string line;
    while (std::getline(log, line)) {
        if (log.eof()) {
            break; // no line ending: the file ends inside this line
        }
        // Zero bytes are space a write reserved and never filled; text before them is cut.
        const size_t lastZero = line.rfind('\0');
        SplitLine(lastZero == std::string::npos ? line : line.substr(lastZero + 1), onEntry);
    }
    return !log.bad() && (log.eof() || !log.fail());
}
