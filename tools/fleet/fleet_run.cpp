#include "fleet_run.h"

#include "answers.h"
#include "machine_list.h"
#include "machine_replay.h"
#include "numbering_verdict.h"
#include "progress.h"
#include "replay_workers.h"
#include "row_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// What a fleet check found, counted and named as it goes.
struct Findings {
    stability::VerdictCounts verdicts;
    size_t machines = 0;
    size_t changed = 0;
    size_t refused = 0;
    size_t missing = 0;
    bool writeFailed = false;
};

void Note(const std::string& line) {
    std::fprintf(stderr, "destpick-fleet: %s\n", line.c_str());
}

int CoreCount() {
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof(cores), &cores) == 0) {
        return CPU_COUNT(&cores);
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

// The log, replacing an earlier one, never through a symbolic link at its name.
bool WriteLog(const std::string& path, const std::string& log) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < log.size()) {
        const ssize_t written = write(fd, log.data() + done, log.size() - done);
        if (written <= 0 && errno != EINTR) {
            close(fd);
            return false;
        }
        done += written > 0 ? static_cast<size_t>(written) : 0;
    }
    return close(fd) == 0;
}

// The folders the logs go into, made before any worker starts.
std::string MakeLogFolders(const std::string& logs, const std::vector<Description>& descriptions) {
    std::error_code error;
    fs::create_directories(logs, error);
    for (size_t i = 0; !error && i < descriptions.size(); ++i) {
        fs::create_directories((fs::path(logs) / descriptions[i].logName).parent_path(), error);
    }
    return error ? logs + ": cannot make the log folders: " + error.message() : "";
}

DecisionRow ReplayAndLog(const Description& description, const std::string& logs) {
    ReplayResult result = ReplayDescription(description.file);
    if (!logs.empty() && result.row[RowField::Refused].empty()) {
        const std::string path = (fs::path(logs) / description.logName).string();
        if (!WriteLog(path, result.log)) {
            Note("cannot write the log " + path + ": " + std::strerror(errno));
            std::exit(FleetWriteFailed);
        }
    }
    return result.row;
}

class FleetCheck {
  public:
    FleetCheck(const FleetOptions& options, Baseline* expected, std::ofstream* baseline,
               size_t total)
        : options_(options), expected_(expected), baseline_(baseline), progress_(total) {}

    bool Take(const DecisionRow& row) {
        ++findings_.machines;
        const std::string text = options_.format == RowFormat::Csv ? CsvLine(row) : JsonLine(row);
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            Note("cannot write the rows to standard output");
            findings_.writeFailed = true;
            return false;
        }
        if (!row[RowField::Refused].empty()) {
            ++findings_.refused;
            Note("refused: " + row[RowField::Refused]);
        } else {
            Record(row);
        }
        findings_.verdicts.AddWord(row[RowField::Stability]);
        progress_.MachineDone();
        return !findings_.writeFailed;
    }

    Findings Finish() {
        progress_.Finish();
        return findings_;
    }

  private:
    void Record(const DecisionRow& row) {
        const std::string& file = row[RowField::File];
        const std::string answer = AnswerOf(row[RowField::Stdout]);
        if (baseline_ != nullptr) {
            const std::optional<std::string> line =
                BaselineLine(fs::path(options_.writeBaseline).parent_path().string(), file, answer);
            if (!line) {
                Note(file + ": no baseline line can carry its name");
                findings_.writeFailed = true;
            } else {
                *baseline_ << *line;
            }
        }
        if (expected_ == nullptr) {
            return;
        }
        const auto listed = expected_->answers.find(ComparablePath(file));
        if (listed == expected_->answers.end()) {
            return;
        }
        listed->second.seen = true;
        if (listed->second.answer != answer) {
            ++findings_.changed;
            Note("changed: " + file + ": expected " + listed->second.answer + ", answered " +
                 answer);
        }
    }

    const FleetOptions& options_;
    Baseline* expected_;
    std::ofstream* baseline_;
    Progress progress_;
    Findings findings_;
};

// Listed machines that are not in the whole input at all; those in another shard are that
// shard's to check.
size_t NameMissing(const Baseline& expected, const std::vector<Description>& all,
                   const std::string& expectFile) {
    std::set<std::string> present;
    for (const Description& description : all) {
        present.insert(ComparablePath(description.file));
    }
    size_t missing = 0;
    for (const auto& [path, listed] : expected.answers) {
        if (!listed.seen && present.count(path) == 0) {
            ++missing;
            Note("missing: " + listed.file + " (" + expectFile + " line " +
                 std::to_string(listed.line) + ") was not found");
        }
    }
    return missing;
}

FleetExitCode Summarize(const FleetOptions& options, const Findings& findings) {
    if (findings.writeFailed) {
        return FleetWriteFailed;
    }
    Note("numbering: " + findings.verdicts.Text());
    if (!options.expect.empty() || findings.refused > 0) {
        Note(std::to_string(findings.machines) + " machines: " + std::to_string(findings.changed) +
             " changed, " + std::to_string(findings.missing) + " missing, " +
             std::to_string(findings.refused) + " refused");
    }
    const bool clean = findings.changed == 0 && findings.missing == 0 && findings.refused == 0;
    return clean ? FleetAsExpected : FleetChanged;
}

bool CommitBaseline(std::ofstream* baseline, const std::string& temporary,
                    const std::string& fileName) {
    baseline->close();
    std::error_code error;
    if (!*baseline || (fs::rename(temporary, fileName, error), error)) {
        Note(fileName + ": cannot be written");
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

} // namespace

FleetExitCode RunFleet(const FleetOptions& options) {
    const DescriptionList found = FindDescriptions(options.paths, !options.logs.empty());
    if (!found.error.empty()) {
        Note(found.error);
        return FleetWrongInput;
    }
    Baseline expected;
    if (!options.expect.empty() && !(expected = ReadBaseline(options.expect)).error.empty()) {
        Note(expected.error);
        return FleetWrongInput;
    }
    const std::vector<Description> shard =
        ShardOf(found.descriptions, options.shard, options.shards);
    if (!options.logs.empty()) {
        if (const std::string error = MakeLogFolders(options.logs, shard); !error.empty()) {
            Note(error);
            return FleetWriteFailed;
        }
    }
    const std::string temporary = options.writeBaseline + ".partial";
    std::ofstream baseline;
    if (!options.writeBaseline.empty()) {
        baseline.open(temporary, std::ios::binary | std::ios::trunc);
        if (!baseline) {
            Note(options.writeBaseline + ": cannot be written");
            return FleetWriteFailed;
        }
    }
    if (options.format == RowFormat::Csv) {
        std::fputs(CsvHeader().c_str(), stdout);
    }
    FleetCheck check(options, options.expect.empty() ? nullptr : &expected,
                     options.writeBaseline.empty() ? nullptr : &baseline, shard.size());
    const std::string workerError = ReplayInWorkers(
        shard, options.jobs > 0 ? options.jobs : CoreCount(),
        [&options](const Description& d) { return ReplayAndLog(d, options.logs); },
        [&check](const DecisionRow& row) { return check.Take(row); });
    Findings findings = check.Finish();
    if (!options.expect.empty()) {
        findings.missing = NameMissing(expected, found.descriptions, options.expect);
    }
    findings.writeFailed = findings.writeFailed || !workerError.empty() || std::fflush(stdout) != 0;
    if (!workerError.empty()) {
        Note(workerError);
    }
    if (!options.writeBaseline.empty() &&
        (findings.writeFailed || !CommitBaseline(&baseline, temporary, options.writeBaseline))) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        findings.writeFailed = true;
    }
    return Summarize(options, findings);
}
