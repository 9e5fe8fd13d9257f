// destpick-explain LOG: why the last complete run in a destpick log chose what it chose.
#include "explain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

namespace {

const int OutputFailed = 5;

const char Usage[] =
    "Usage: destpick-explain LOG\n"
    "\n"
    "Explains the last complete run in a destpick log (destpick.log beside destpick.exe): the\n"
    "answer and the run's time stamp, one row per candidate disk with why it won or lost, and\n"
    "what the run logged as odd. It needs only the log, not the machine.\n"
    "\n"
    "Exit codes:\n"
    "  0  the run is explained on standard output\n"
    "  1  the command line is wrong (this text, on standard error)\n"
    "  2  the log cannot be read\n"
    "  3  the file is not a destpick log\n"
    "  4  the log holds no complete run\n"
    "  5  the explanation could not be written to standard output\n"
    "\n"
    "destpick-explain " DESTPICK_EXPLAIN_VERSION "\n";

int Fail(const std::string& logName, int code, const std::string& error) {
    std::fprintf(stderr, "destpick-explain: %s: %s\n", logName.c_str(), error.c_str());
    return code;
}

int ExplainFile(const std::string& logName) {
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
        result = ExplainLog(log);
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
        return ExplainFile(argument);
    }
    std::fputs(Usage, stderr);
    return WrongArguments;
}
