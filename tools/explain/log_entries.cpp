#include "log_entries.h"

#include "log_lines.h"

#include <cctype>
#include <cstddef>

namespace {

const char MaskedStamp[] = "[stamp]";
const size_t MaskedStampLength = sizeof(MaskedStamp) - 1;
// "[YYYY.MM.DD-hh:mm:ss]"; the year is printed with "%4d", so it may lead with blanks.
const char StampShape[] = "[9999.99.99-99:99:99]";
const size_t StampLength = sizeof(StampShape) - 1;

bool StampCharFits(char shape, char c, size_t position) {
    if (shape != '9') {
        return c == shape;
    }
    const bool yearDigit = position >= 1 && position <= 4;
    return std::isdigit(static_cast<unsigned char>(c)) != 0 || (yearDigit && c == ' ');
}

// The length of the stamp, without the blank after it, that starts text at offset; 0 when none.
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

// An entry's stamp ends in one blank before its message; an editor that trims trailing blanks
// takes it off a blank entry. Nothing else may follow the stamp directly.
size_t MessageStart(const std::string& text, size_t stampEnd, size_t end) {
    if (stampEnd == end) {
        return end;
    }
    return text[stampEnd] == ' ' ? stampEnd + 1 : std::string::npos;
}

// The blank entry at the end of the line's text, where one starts after other text: an entry
// cut short (power lost, the process killed, the disk full) has no line ending, and the next
// run's first entry, a blank one, follows it on its line. Returns its stamp's offset, or npos.
size_t GluedBlankEntry(const std::string& text, size_t end) {
    for (const size_t length : {StampLength, MaskedStampLength}) {
        if (end > length && StampAt(text, end - length) == length) {
            return end - length;
        }
    }
    return std::string::npos;
}

LogEntry EntryAt(const std::string& text, size_t stampLength, size_t messageStart, size_t end) {
    LogEntry entry;
    entry.stamp = text.substr(1, stampLength - 2);
    entry.message = text.substr(messageStart, end - messageStart);
    return entry;
}

// One complete line: its entry, or the blank entry glued to an entry cut short.
void SplitLine(const LogLine& line, const std::function<void(const LogEntry&)>& onEntry) {
    const std::string& text = line.text;
    // Without the blanks that end it (npos + 1 is 0 for a line of blanks alone).
    const size_t end = text.find_last_not_of(" \t\r") + 1;
    const size_t glued = GluedBlankEntry(text, end);
    if (glued != std::string::npos) {
        const std::string blank = text.substr(glued, end - glued);
        onEntry(EntryAt(blank, blank.size(), blank.size(), blank.size()));
        return;
    }
    const size_t stampLength = line.headLost ? 0 : StampAt(text, 0);
    const size_t messageStart =
        stampLength == 0 ? std::string::npos : MessageStart(text, stampLength, end);
    if (messageStart != std::string::npos) {
        onEntry(EntryAt(text, stampLength, messageStart, end));
    }
}

} // namespace

bool ReadLogEntries(std::istream& log, const std::function<void(const LogEntry&)>& onEntry) {
    LogLineReader reader(log);
    LogLine line;
    while (reader.Next(&line)) {
        if (line.ended) { // without a line ending the file ends inside this line
            SplitLine(line, onEntry);
        }
    }
    return !reader.Failed();
}
