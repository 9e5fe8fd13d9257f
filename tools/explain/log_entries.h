// A destpick log read back as the entries the tool wrote: each one a time stamp and a message.
#pragma once

#include <functional>
#include <istream>
#include <string>

struct LogEntry {
    // "YYYY.MM.DD-hh:mm:ss" as written, or "stamp" in a log whose stamps were masked.
    std::string stamp;
    // The text after the stamp, without its line ending and trailing blanks: an editor that
    // trims them, or converts the line endings, leaves a log that still reads the same.
    std::string message;
};

// Feeds every entry of the log to onEntry, in order. Lines without a stamp are passed over, and
// so is a line that the file ends in or that runs into zero bytes: a write cut short, whose text
// may be missing its end. False when the stream fails before its end.
bool ReadLogEntries(std::istream& log, const std::function<void(const LogEntry&)>& onEntry);
