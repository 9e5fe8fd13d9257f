// A log's lines read in pieces of bounded size: however long a line, memory holds at most
// MaxLineBytes of it.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

// No entry the tool writes comes near this: 1023 units, each at most three bytes in the ANSI
// code page, and a cut entry glued to the next.
const size_t MaxLineBytes = 64 * 1024;

struct LogLine {
    // The line's text without its line feed, after the last zero byte in it: zero bytes are
    // space a write reserved and never filled, so what came before them is cut.
    std::string text;
    bool ended = false;    // a line feed closed it; false when the log ends inside it
    bool headLost = false; // longer than MaxLineBytes: only its last bytes are kept
};

class LogLineReader {
  public:
    explicit LogLineReader(std::istream& log);

    // The next line; false at the end of the log or when it cannot be read further.
    bool Next(LogLine* line);
    // True when the log could not be read to its end.
    bool Failed() const;

  private:
    void Refill();
    void Keep(const char* bytes, size_t count, LogLine* line);

    std::istream& log_;
    std::string piece_;
    size_t at_ = 0;
    bool first_ = true;
};
