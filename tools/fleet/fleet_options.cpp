#include "fleet_options.h"

#include <cstdlib>

const char FleetUsage[] =
    "Usage: destpick-fleet [--format csv|jsonl] [--expect FILE] [--write-baseline FILE]\n"
    "                      [--logs DIR] [--jobs N] [--shard K/N] PATH...\n"
    "       destpick-fleet --help | --version\n"
    "\n"
    "Replays every machine description (.json) under the given files and folders (folders\n"
    "recursively, in sorted order) with destpick's own code, in this process, and prints one row\n"
    "per machine on standard output: CSV with a header row, or one JSON object per line.\n"
    "\n"
    "  --expect FILE          compare each answer with FILE's (lines \"description answer\");\n"
    "                         every changed answer, missing machine and refused description is\n"
    "                         named on standard error\n"
    "  --write-baseline FILE  write each machine's answer to FILE, in the format --expect reads\n"
    "  --logs DIR             write each machine's whole log below DIR, named after its path\n"
    "  --jobs N               replay in N worker processes (default: one per core)\n"
    "  --shard K/N            replay only the K-th of N equal parts of the sorted input\n"
    "\n"
    "Exit codes:\n"
    "  0  every machine replayed (and, with --expect, answered as expected)\n"
    "  1  a description was refused, or with --expect an answer changed or a machine is missing\n"
    "  2  the command line, a path or the --expect file is wrong\n"
    "  3  a row, a log or the baseline could not be written, or a replay ended abnormally\n";

namespace {

// A count from 1 to 4096 in plain digits.
std::optional<int> SmallCount(const std::string& text) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int value = std::atoi(text.c_str());
    return value >= 1 && value <= 4096 ? std::optional<int>(value) : std::nullopt;
}

bool TakeShard(const std::string& text, FleetOptions* options) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    const std::optional<int> shard = SmallCount(text.substr(0, slash));
    const std::optional<int> shards = SmallCount(text.substr(slash + 1));
    if (!shard || !shards || *shard > *shards) {
        return false;
    }
    options->shard = *shard;
    options->shards = *shards;
    return true;
}

// One option with its value; an error text when the value is wrong.
std::string TakeValue(const std::string& name, const std::string& value, FleetOptions* options) {
    if (name == "--format") {
        if (value != "csv" && value != "jsonl") {
            return "--format takes csv or jsonl, not " + value;
        }
        options->format = value == "csv" ? RowFormat::Csv : RowFormat::JsonLines;
    } else if (name == "--jobs") {
        const std::optional<int> jobs = SmallCount(value);
        if (!jobs) {
            return "--jobs takes a count from 1 to 4096, not " + value;
        }
        options->jobs = *jobs;
    } else if (name == "--shard") {
        if (!TakeShard(value, options)) {
            return "--shard takes K/N with 1 <= K <= N, not " + value;
        }
    } else if (value.empty()) {
        return name + " takes a file or folder name";
    } else if (name == "--expect") {
        options->expect = value;
    } else if (name == "--write-baseline") {
        options->writeBaseline = value;
    } else {
        options->logs = value;
    }
    return "";
}

bool TakesValue(const std::string& name) {
    return name == "--format" || name == "--expect" || name == "--write-baseline" ||
           name == "--logs" || name == "--jobs" || name == "--shard";
}

} // namespace

ParsedOptions ParseFleetOptions(int argc, char** argv) {
    FleetOptions options;
    bool onlyPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (onlyPaths || argument.empty() || argument[0] != '-' || argument == "-") {
            options.paths.push_back(argument);
        } else if (argument == "--") {
            onlyPaths = true;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (!TakesValue(argument)) {
            return {std::nullopt, "unknown option " + argument};
        } else if (i + 1 >= argc) {
            return {std::nullopt, argument + " needs a value"};
        } else if (const std::string error = TakeValue(argument, argv[++i], &options);
                   !error.empty()) {
            return {std::nullopt, error};
        }
    }
    if (!options.help && !options.version && options.paths.empty()) {
        return {std::nullopt, "no description or folder named"};
    }
    return {options, ""};
}
