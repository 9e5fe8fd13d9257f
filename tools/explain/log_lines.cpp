#include "log_lines.h"

#include <cstring>

namespace {

const size_t PieceBytes = 64 * 1024;
// An editor that saves the log as UTF-8 may put a byte order mark before its first line.
const char ByteOrderMark[] = "\xEF\xBB\xBF";
const size_t ByteOrderMarkLength = sizeof(ByteOrderMark) - 1;

} // namespace

LogLineReader::LogLineReader(std::istream& log) : log_(log) {}

void LogLineReader::Refill() {
    piece_.resize(PieceBytes);
    log_.read(&piece_[0], static_cast<std::streamsize>(PieceBytes));
    piece_.resize(static_cast<size_t>(log_.gcount()));
    at_ = 0;
    if (first_ && piece_.compare(0, ByteOrderMarkLength, ByteOrderMark) == 0) {
        at_ = ByteOrderMarkLength;
    }
    first_ = false;
}

void LogLineReader::Keep(const char* bytes, size_t count, LogLine* line) {
    line->text.append(bytes, count);
    if (line->text.size() > MaxLineBytes) {
        line->text.erase(0, line->text.size() - MaxLineBytes / 2);
        line->headLost = true;
    }
}

bool LogLineReader::Next(LogLine* line) {
    *line = LogLine();
    bool any = false;
    for (;;) {
        if (at_ == piece_.size()) {
            if (!log_) {
                return any;
            }
            Refill();
            continue;
        }
        any = true;
        const char* start = piece_.data() + at_;
        const size_t left = piece_.size() - at_;
        const void* feed = std::memchr(start, '\n', left);
        const size_t length =
            feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - start) : left;
        const void* zero = std::memchr(start, '\0', length);
        const char* from = start;
        while (zero != nullptr) {
            line->text.clear();
            line->headLost = false;
            from = static_cast<const char*>(zero) + 1;
            zero = std::memchr(from, '\0', static_cast<size_t>(start + length - from));
        }
        Keep(from, static_cast<size_t>(start + length - from), line);
        at_ += length;
        if (feed != nullptr) {
            ++at_;
            line->ended = true;
            return true;
        }
    }
}

bool LogLineReader::Failed() const {
    return log_.bad() || (log_.fail() && !log_.eof());
}
