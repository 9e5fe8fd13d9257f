#include "replay_workers.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Worker {
    pid_t pid = -1;
    int rows = -1; // the read end of its pipe
};

// Moves every byte through read or write, each call of which may move fewer bytes than asked or
// be cut short by a signal; false once the other end is gone or the call fails.
template <typename Transfer, typename Byte>
bool TransferAll(Transfer transfer, int fd, Byte* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t moved = transfer(fd, bytes + done, size - done);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        done += static_cast<size_t>(moved);
    }
    return true;
}

void AppendLength(std::string* bytes, size_t length) {
    const std::uint32_t value = static_cast<std::uint32_t>(length);
    bytes->append(reinterpret_cast<const char*>(&value), sizeof(value));
}

// A row as its fields, each its length and its bytes.
std::string Encode(const DecisionRow& row) {
    std::string bytes;
    for (const std::string& value : row.values) {
        AppendLength(&bytes, value.size());
        bytes += value;
    }
    return bytes;
}

bool Decode(int fd, DecisionRow* row) {
    for (std::string& value : row->values) {
        std::uint32_t length = 0;
        if (!TransferAll(read, fd, reinterpret_cast<char*>(&length), sizeof(length))) {
            return false;
        }
        value.resize(length);
        if (length > 0 && !TransferAll(read, fd, &value[0], length)) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void RunWorker(const std::vector<Description>& descriptions, size_t first, size_t step,
                            const ReplayStep& replay, int rows) {
    for (size_t i = first; i < descriptions.size(); i += step) {
        const std::string bytes = Encode(replay(descriptions[i]));
        if (!TransferAll(write, rows, bytes.data(), bytes.size())) {
            _exit(1);
        }
    }
    close(rows);
    _exit(0);
}

std::string InThisProcess(const std::vector<Description>& descriptions, const ReplayStep& replay,
                          const RowSink& sink) {
    for (const Description& description : descriptions) {
        if (!sink(replay(description))) {
            break;
        }
    }
    return "";
}

std::string StartWorkers(const std::vector<Description>& descriptions, const ReplayStep& replay,
                         std::vector<Worker>* workers) {
    for (size_t w = 0; w < workers->size(); ++w) {
        int ends[2];
        if (pipe(ends) != 0) {
            return std::string("cannot make a pipe: ") + std::strerror(errno);
        }
        const pid_t pid = fork();
        if (pid < 0) {
            close(ends[0]);
            close(ends[1]);
            return std::string("cannot start a worker: ") + std::strerror(errno);
        }
        if (pid == 0) {
            close(ends[0]);
            // The pipes of the workers started before this one belong to the parent.
            for (size_t earlier = 0; earlier < w; ++earlier) {
                close((*workers)[earlier].rows);
            }
            RunWorker(descriptions, w, workers->size(), replay, ends[1]);
        }
        close(ends[1]);
        (*workers)[w] = {pid, ends[0]};
    }
    return "";
}

// Collects every worker; the first failure's text, if any.
std::string StopWorkers(std::vector<Worker>* workers, bool kill) {
    std::string error;
    for (Worker& worker : *workers) {
        if (worker.rows >= 0) {
            close(worker.rows);
        }
        if (worker.pid <= 0) {
            continue;
        }
        if (kill) {
            ::kill(worker.pid, SIGTERM);
        }
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!kill && (!WIFEXITED(status) || WEXITSTATUS(status) != 0) && error.empty()) {
            error = "a worker process ended abnormally (status " + std::to_string(status) + ")";
        }
    }
    return error;
}

} // namespace

std::string ReplayInWorkers(const std::vector<Description>& descriptions, int workerCount,
                            const ReplayStep& replay, const RowSink& sink) {
    const size_t count = std::min(descriptions.size(), static_cast<size_t>(workerCount));
    if (count <= 1) {
        return InThisProcess(descriptions, replay, sink);
    }
    std::vector<Worker> workers(count);
    std::string error = StartWorkers(descriptions, replay, &workers);
    bool stopped = !error.empty();
    for (size_t i = 0; !stopped && i < descriptions.size(); ++i) {
        DecisionRow row;
        if (!Decode(workers[i % count].rows, &row)) {
            error = "the worker replaying " + descriptions[i].file + " ended before its row";
            stopped = true;
        } else {
            stopped = !sink(row);
        }
    }
    const std::string stopError = StopWorkers(&workers, stopped);
    return error.empty() ? stopError : error;
}
