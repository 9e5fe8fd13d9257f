// Why each candidate of a run won or lost, and what the run logged as odd, from its account.
#pragma once

#include "run_account.h"

#include <string>
#include <vector>

struct CandidateRow {
    int position = 0;
    std::string disk; // the device number, "-" where the log does not give it
    std::string bus;
    std::string speedClass;
    std::string sizeGiB;
    std::string systemPartition;
    std::string weight;
    std::string verdict;
    // The term a weighed loser lost on, as its verdict names it: "speed class", "capacity",
    // "system partition", "device number", "position", or "weight" where the sum decided against
    // the terms; empty for the chosen disk and for any disk the weighting did not compare.
    std::string lostOn;
};

struct Oddity {
    int position; // -1 for the run as a whole
    std::string text;
};

struct RunExplanation {
    std::string answer;
    std::vector<CandidateRow> rows;
    std::vector<Oddity> oddities;
};

// Expects a run that ended (any RunEnd but Unfinished).
RunExplanation ExplainRun(const RunAccount& run);
