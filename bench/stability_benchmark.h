// The cost of the numbering verdict beside the run it judges: generated machines, each run once
// without log and judged once, and the fleet machines of 1 to 256 disks judged.
#pragma once

namespace bench {

// Prints the figures for that many generated machines (seeds 1 to machines); with checkOnly, runs
// them without figures. Non-zero when a verdict is not what its machine must give.
int RunStabilityBenchmark(int machines, bool checkOnly);

} // namespace bench
