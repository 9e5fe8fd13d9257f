// destpick-fleet's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class RowFormat { Csv, JsonLines };

struct FleetOptions {
    RowFormat format = RowFormat::Csv;
    std::string expect;        // a baseline to compare with
    std::string writeBaseline; // a baseline to write
    std::string logs;          // the folder for the logs; empty: none written
    int jobs = 0;              // 0: one per core
    int shard = 1;             // this run's part, of `shards`
    int shards = 1;
    std::vector<std::string> paths;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<FleetOptions> options;
    std::string error; // why the command line is wrong
};

ParsedOptions ParseFleetOptions(int argc, char** argv);

extern const char FleetUsage[];
