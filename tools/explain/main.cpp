// destpick-explain [--format text|csv|json] [--run N | --all] LOG: why a run in a destpick log
// chose what it chose.
#include "explain.h"
#include "script_formats.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace {

const int OutputFailed = 5;

const char Usage[] =
    "Usage: destpick-explain [--format text|csv|json] [--run N | --all] LOG\n"
    "       destpick-explain --help | --version\n"
    "\n"
    "Explains the last complete run in a destpick log (destpick.log beside destpick.exe): the\n"
    "answer and the run's time stamp, one row per candidate disk with why it won or lost, and\n"
    "what the run logged as odd. It needs only the log, not the machine.\n"
    "\n"
    "  --format csv   the decision as one row under a header, with destpick-fleet's columns\n"
    "  --format json  one object: the decision's fields, the run and its candidates\n"
    "  --run N        the N-th complete run of the log (from 1) instead of the last\n"
    "  --all          every run of the log: its number for --run, time stamp and answer\n"
    "\n"
    "Exit codes:\n"
    "  0  the run is explained on standard output\n"
    "  1  the command line is wrong (this text, on standard error)\n"
    "  2  the log cannot be read\n"
    "  3  the file is not a destpick log\n"
    "  4  the log holds no complete run (or not the one asked for)\n"
    "  5  the explanation could not be written to standard output\n"
    "\n"
    "destpick-explain " DESTPICK_EXPLAIN_VERSION "\n";

struct Options {
    OutputFormat format = OutputFormat::Text;
    int run = 0; // 0: the last complete run
    bool all = false;
    std::string log;
};

int Fail(const std::string& logName, int code, const std::string& error) {
    std::fprintf(stderr, "destpick-explain: %s: %s\n", logName.c_str(), error.c_str());
    return code;
}

int WrongCommandLine() {
    std::fputs(Usage, stderr);
    return WrongArguments;
}

std::optional<OutputFormat> FormatNamed(const std::string& name) {
    const std::pair<const char*, OutputFormat> formats[] = {
        {"text", OutputFormat::Text}, {"csv", OutputFormat::Csv}, {"json", OutputFormat::Json}};
    for (const auto& [known, format] : formats) {
        if (name == known) {
            return format;
        }
    }
    return std::nullopt;
}

// A run number from 1 to 999999: digits alone, no sign or blank.
std::optional<int> RunNumber(const std::string& text) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int number = std::stoi(text);
    return number > 0 ? std::optional<int>(number) : std::nullopt;
}

bool TakeOption(const std::string& name, const char* value, Options* options) {
    if (value == nullptr) {
        return false;
    }
    if (name == "--format") {
        const std::optional<OutputFormat> format = FormatNamed(value);
        options->format = format.value_or(OutputFormat::Text);
        return format.has_value();
    }
    const std::optional<int> run = RunNumber(value);
    options->run = run.value_or(0);
    return run.has_value();
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--format" || argument == "--run") {
            if (!TakeOption(argument, i + 1 < argc ? argv[i + 1] : nullptr, &options)) {
                return std::nullopt;
            }
            ++i;
        } else if (argument == "--all") {
            options.all = true;
        } else if (!options.log.empty() || argument.empty() ||
                   (argument[0] == '-' && argument != "-")) {
            return std::nullopt;
        } else {
            options.log = argument;
        }
    }
    if (options.log.empty() || (options.all && options.run > 0)) {
        return std::nullopt;
    }
    return options;
}

std::string RunOutput(const Options& options, const LastCompleteRun& found) {
    const RunExplanation explanation = ExplainRun(*found.run);
    if (options.format == OutputFormat::Text) {
        return RenderExplanation(*found.run, found.place, explanation);
    }
    const DecisionRow row = LogDecisionRow(options.log, found, explanation);
    return options.format == OutputFormat::Csv ? RunCsv(row) : RunJson(row, found, explanation);
}

std::string ListOutput(const Options& options, const RunList& list) {
    if (options.format == OutputFormat::Text) {
        return RunListText(list);
    }
    return options.format == OutputFormat::Csv ? RunListCsv(list) : RunListJson(list);
}

// The explanation or the list for standard output; a failure's exit code and line otherwise.
ExplainResult Explain(const Options& options, std::istream& log) {
    if (options.all) {
        const RunList list = ListRuns(log);
        return {list.status, list.status == Explained ? ListOutput(options, list) : "", list.error};
    }
    const LastCompleteRun found = FindCompleteRun(log, options.run);
    if (found.status != Explained) {
        return {found.status, "", found.error};
    }
    return {Explained, RunOutput(options, found), ""};
}

int ExplainFile(const Options& options) {
    const std::string& logName = options.log;
    std::error_code folderCheck;
    if (std::filesystem::is_directory(logName, folderCheck)) {
        return Fail(logName, LogUnreadable, "cannot read the log: it is a folder");
    }
    std::ifstream log(logName, std::ios::binary);
    if (!log) {
        return Fail(logName, LogUnreadable,
                    std::string("cannot read the log: ") + std::strerror(errno));
    }
    ExplainResult result = {LogUnreadable, "", ""};
    try {
        result = Explain(options, log);
    } catch (const std::bad_alloc&) {
        // A log of countless disks or runs can need more memory than there is.
        return Fail(logName, LogUnreadable, "cannot read the log: not enough memory");
    }
    if (result.exitCode != Explained) {
        return Fail(logName, result.exitCode, result.error);
    }
    if (std::fputs(result.output.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        return Fail(logName, OutputFailed, "cannot write the explanation");
    }
    return Explained;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2) {
        const std::string argument = argv[1];
        if (argument == "-h" || argument == "--help" || argument == "/?") {
            std::fputs(Usage, stdout);
            return Explained;
        }
        if (argument == "--version") {
            std::fputs("destpick-explain " DESTPICK_EXPLAIN_VERSION "\n", stdout);
            return Explained;
        }
    }
    const std::optional<Options> options = ParseOptions(argc, argv);
    return options ? ExplainFile(*options) : WrongCommandLine();
}
