// What a run's lines show as odd about one disk: the lines the probe writes only when a step
// fails, and what the absence of a step's answer, or a field's value, gives away.
#pragma once

#include "verdicts.h"

#include <vector>

void AddProbeOddities(int position, const ProbedDisk& disk, std::vector<Oddity>* oddities);

// probed: whether the probe wrote anything about this position at all.
void AddCandidateOddities(int position, const CandidateBlock& block, bool probed,
                          std::vector<Oddity>* oddities);
