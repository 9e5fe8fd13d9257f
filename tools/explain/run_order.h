// The order in which every run writes its lines: the paths after its header, each disk's probe
// steps, the candidates one after the other, the pick's comparisons and the report. A line that
// cannot come next in that order is not this run's: another run wrote into the same log at the
// same time (two machines running destpick from one share), or the line is none of destpick's.
#pragma once

#include "banners.h"

#include <string>

struct ProbedDisk;

enum class RunSection { Paths, Probe, Weighting, Pick, Report, Ended };

struct RunOrder {
    RunSection section = RunSection::Paths;
    int item = -1; // the disk, the candidate or the compared drive the run is at
    int step = 0;  // how far that item's lines have come
    bool broken = false;
};

// Takes the run's next entry that is not blank; banner as for AddRunEntry. False from the
// first entry on that cannot come next: the run's lines are mixed with others.
bool FollowsInOrder(RunOrder* order, const std::string& message, const BannerText& banner);

// The probe's lines that are written only when a step fails or meets a reply it cannot use.
bool IsOddProbeLine(const std::string& rest);
// Marks in the disk's account the steps that the line shows the probe reached, and the numbers
// the line gives.
void MarkReachedSteps(ProbedDisk* disk, const std::string& rest);
