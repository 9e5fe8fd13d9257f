#include "machine_list.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool IsDescriptionName(const std::string& name) {
    const std::string ending = ".json";
    if (name.size() < ending.size()) {
        return false;
    }
    std::string tail = name.substr(name.size() - ending.size());
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return tail == ending;
}

// The .json files below the folder, by path; an error text when the folder cannot be read. Kept
// as plain text: a path object holds its parsed components too, several times the memory.
std::string DescriptionsBelow(const fs::path& folder, std::vector<std::string>* found) {
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        std::error_code ignored;
        if (walk->is_regular_file(ignored) && IsDescriptionName(walk->path().filename().string())) {
            found->push_back(walk->path().string());
        }
    }
    if (error) {
        return folder.string() + ": cannot be read: " + error.message();
    }
    std::sort(found->begin(), found->end());
    return "";
}

// Every path component as it is, the last one with .log for its .json.
std::string WithLogEnding(const std::string& relativePath, int copy) {
    const std::string stem = relativePath.substr(0, relativePath.size() - 5);
    return stem + (copy > 1 ? "-" + std::to_string(copy) : "") + ".log";
}

} // namespace

std::string LogNameFor(const std::string& relativePath, std::set<std::string>* taken) {
    // Components come from a folder's listing or a file's own name, so none is "." or "..";
    // anything else that could lead outside is dropped all the same.
    fs::path safe;
    for (const fs::path& part : fs::path(relativePath).relative_path()) {
        if (part != ".." && part != "." && !part.empty()) {
            safe /= part;
        }
    }
    std::string base = safe.string();
    if (!IsDescriptionName(base)) {
        base += ".json";
    }
    for (int copy = 1;; ++copy) {
        const std::string name = WithLogEnding(base, copy);
        if (taken->insert(name).second) {
            return name;
        }
    }
}

DescriptionList FindDescriptions(const std::vector<std::string>& arguments, bool withLogNames) {
    DescriptionList list;
    std::set<std::string> taken;
    const auto logName = [&taken, withLogNames](const std::string& relative) {
        return withLogNames ? LogNameFor(relative, &taken) : std::string();
    };
    for (const std::string& argument : arguments) {
        std::error_code error;
        const fs::file_status status = fs::status(argument, error);
        if (fs::is_regular_file(status)) {
            list.descriptions.push_back(
                {argument, logName(fs::path(argument).filename().string())});
            continue;
        }
        if (!fs::is_directory(status)) {
            list.error = argument + ": no such file or folder";
            return list;
        }
        std::vector<std::string> found;
        list.error = DescriptionsBelow(argument, &found);
        if (list.error.empty() && found.empty()) {
            list.error = argument + ": holds no .json description";
        }
        if (!list.error.empty()) {
            return list;
        }
        for (std::string& file : found) {
            const std::string name =
                withLogNames ? logName(fs::path(file).lexically_relative(argument).string()) : "";
            list.descriptions.push_back({std::move(file), name});
        }
    }
    return list;
}

std::vector<Description> ShardOf(const std::vector<Description>& all, int shard, int shards) {
    const size_t count = all.size();
    const size_t begin = count * static_cast<size_t>(shard - 1) / static_cast<size_t>(shards);
    const size_t end = count * static_cast<size_t>(shard) / static_cast<size_t>(shards);
    return std::vector<Description>(all.begin() + static_cast<std::ptrdiff_t>(begin),
                                    all.begin() + static_cast<std::ptrdiff_t>(end));
}
