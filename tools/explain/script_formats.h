// destpick-explain's output for scripts: a run as a decision row in CSV or as one JSON object
// with its candidates, and the list of a log's runs as text, CSV or JSON.
#pragma once

#include "decision_row.h"
#include "explain.h"

#include <string>

enum class OutputFormat { Text, Csv, Json };

// The explained run's row, its file field naming the log it was read from.
DecisionRow LogDecisionRow(const std::string& logName, const LastCompleteRun& found,
                           const RunExplanation& explanation);

std::string RunCsv(const DecisionRow& row);
// The row's fields, the run's stamp, version and place, and its candidates and odd things.
std::string RunJson(const DecisionRow& row, const LastCompleteRun& found,
                    const RunExplanation& explanation);

std::string RunListText(const RunList& list);
std::string RunListCsv(const RunList& list);
std::string RunListJson(const RunList& list);
