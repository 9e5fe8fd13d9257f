// What one run of destpick wrote into its log, gathered entry by entry: the probe's account of
// each disk, the weighting's block of each candidate, the pick and the report.
#pragma once

#include "banners.h"
#include "log/log_texts.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The phase the run had reached when its log ended, by the banners it wrote.
enum class RunPhase { Probe, Weighting, Pick, Report };

enum class RunEnd {
    Unfinished,          // the log stops before the run's end: not an account to explain
    Reported,            // the report line was written
    LayoutGaveUp,        // the probe could not read a disk's layout and ended the run
    RecordsNotAllocated, // the run could not allocate its drive records and ended
};

enum class RaidOutcome { NotAsked, Answered, Refused, NoController };

// A disk as the probe's lines show it; the key of the map that holds it is its position, the
// number of its "[Disk%i]" lines.
struct ProbedDisk {
    bool pathLogged = false;
    bool openAttempted = false;
    bool opened = false;
    bool deviceNumberRead = false;
    bool descriptorAsked = false;
    bool descriptorRead = false;
    std::optional<std::int64_t> busType;
    bool partitionsChecked = false;
    bool layoutAsked = false;
    bool systemPartition = false;
    std::optional<std::int64_t> layoutFailures; // the i of the layout's done line
    std::optional<std::int64_t> partitionCount;
    RaidOutcome raid = RaidOutcome::NotAsked;
    std::string raidErrorLine;         // the driver's "GetLastError=" line, when it refused
    std::vector<std::string> oddLines; // lines the probe logs only when something went wrong
};

// A disk as the weighting's block shows it; keyed by position like the probed disks.
struct CandidateBlock {
    std::string exclusion; // the line that excluded it, or empty when it was weighed
    bool tooSmall = false;
    std::map<std::string, std::string> fields; // "Drive[k].<field>=<value>" by field name

    // The value the block logged for the field; nothing when it has no such line.
    std::optional<std::string> Field(DriveField field) const;
};

// The four terms of a weighed disk and their sum, as logged ("%I64u": negative values show as
// their two's complement, and are read back as such).
struct Terms {
    std::int64_t speed;
    std::int64_t size;
    std::int64_t sysDisk;
    std::int64_t order;
    std::int64_t weight;
};

// Nothing when the block lacks a term or its Weight.
std::optional<Terms> LoggedTerms(const CandidateBlock& block);

struct RunAccount {
    std::string stamp;
    std::string version;
    RunPhase phase = RunPhase::Probe;
    RunEnd end = RunEnd::Unfinished;
    std::string report;   // "Destination=..." as logged
    std::string endLine;  // the line that ended the run early, as logged
    int endPosition = -1; // the disk the probe gave up on
    std::map<int, ProbedDisk> disks;
    std::map<int, CandidateBlock> candidates;
    std::optional<int> picked; // the position of the pick's last new default
    int currentDisk = -1;
    int currentCandidate = -1;
};

// Adds one entry's message to the account of a run that has not ended yet; banner is the
// banner the message stands for, None for every other line (see BlanksBefore).
void AddRunEntry(RunAccount* run, const std::string& message, const BannerText& banner);
