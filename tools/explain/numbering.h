// Whether a run's decision would hold on a boot that numbers the same disks another way, judged
// from its log alone: the weighed candidates' logged terms under every arrival of their device
// numbers and positions.
#pragma once

#include "numbering_verdict.h"
#include "run_account.h"

#include <string>

struct NumberingAccount {
    stability::NumberingVerdict verdict;
    std::string sentence; // what the verdict means for this run, for a reader
};

// Expects a run that ended (any RunEnd but Unfinished). A weighed candidate whose block lacks its
// number, path or terms cannot be weighed anew and takes no part.
NumberingAccount JudgeNumbering(const RunAccount& run);

// "Numbering: <word>. <sentence>" and a line ending, for the text explanation.
std::string NumberingLine(const RunAccount& run);
