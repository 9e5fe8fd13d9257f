// One description replayed by the system itself, in this process, through the stand-in: the
// machine read by the machine model's reader and installed, the whole run made with its log in
// memory, and the decision row built from that log as destpick-explain builds it.
#pragma once

#include "decision_row.h"

#include <string>

struct ReplayResult {
    DecisionRow row;
    std::string log; // the run's whole log; empty for a refused description
};

// A description the reader refuses gets a row whose refused field says why.
ReplayResult ReplayDescription(const std::string& file);
