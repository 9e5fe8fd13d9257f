// Decision rows as text a script reads: CSV as RFC 4180 writes it, and JSON.
#pragma once

#include "decision_row.h"

#include <string>

// The header line and one row's line, each ending in CRLF; a field that holds a comma, a quote or
// a line break is quoted, its quotes doubled.
std::string CsvHeader();
std::string CsvLine(const DecisionRow& row);
std::string CsvField(const std::string& text);

// A JSON string, quoted and escaped. The log's text is in the ANSI code page: a byte that starts
// no UTF-8 sequence is taken as the Latin-1 character of its value, so the JSON stays valid.
std::string JsonString(const std::string& text);
// The row's fields as members of a JSON object ("file":"…",…), without the braces: numbers as
// numbers, null where a field has no value.
std::string JsonMembers(const DecisionRow& row);
// One object on one line, ending in a line feed: a line of JSON Lines.
std::string JsonLine(const DecisionRow& row);
