// The descriptions a fleet run replays: every .json file under the given files and folders, in a
// stable order, the shard of them this run takes, and the name of each one's log.
#pragma once

#include <set>
#include <string>
#include <vector>

struct Description {
    std::string file;    // as found: the argument, or below it
    std::string logName; // relative to the log folder, unique in the list; empty without logs
};

struct DescriptionList {
    std::vector<Description> descriptions;
    std::string error; // set: an argument that is no file or folder, or a folder unreadable
};

// Each argument in turn: a file as it is, a folder as every .json file below it (letter case
// aside), recursively, in byte order of their paths. Symbolic links to folders are not followed.
DescriptionList FindDescriptions(const std::vector<std::string>& arguments, bool withLogNames);

// The log name of a path relative to the folder it was found in (or of a file argument's own
// name): that path with .log for its .json, made unique against the names taken so far with a
// "-2", "-3", ... before the .log. Never absolute and never with a ".." in it.
std::string LogNameFor(const std::string& relativePath, std::set<std::string>* taken);

// Part `shard` (1 to `shards`) of the list: a contiguous run of it, so that the parts in order
// are the whole list in order.
std::vector<Description> ShardOf(const std::vector<Description>& all, int shard, int shards);
