// The explanation of one run as a console reads it: the answer above, the table of candidates,
// and the run's odd things below.
#pragma once

#include "run_account.h"
#include "verdicts.h"

#include <string>
#include <vector>

// Where the explained run stands among the runs of its log.
struct RunPlace {
    int number = 0; // from 1
    int count = 0;
    int unfinishedAfter = 0; // later runs that did not finish
    std::string lastUnfinishedStamp;
    RunPhase lastUnfinishedPhase = RunPhase::Probe;
    // Later runs whose lines are mixed with those of others, by their stamps: each group holds
    // the runs that overlap one another, or one run that holds lines out of its order.
    std::vector<std::vector<std::string>> overlapsAfter;
};

// Says that the runs of one group overlap and why none of them is explained.
std::string OverlapText(const std::vector<std::string>& stamps);

// "the probe", "the weighting", ...: where a run that did not finish stopped.
std::string PhaseName(RunPhase phase);

std::string RenderExplanation(const RunAccount& run, const RunPlace& place,
                              const RunExplanation& explanation);
