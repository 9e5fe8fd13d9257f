// The storage requests a simulated disk answers, one row each: the request, the reply's field in
// a description with its typed form, the Windows structure's size, and how the stand-in hands the
// reply over. The stand-in, the description reader and writer, and the fuzzer all go by this
// table, so that a new kind of reply is a new row (with its typed form).
#pragma once

#include <sim/machine.h>

#include <optional>
#include <vector>

namespace sim {

// The typed form of a reply in a description; the model's reader and writer know it.
struct ReplyForm;

// How the stand-in (and the Wine test driver, from the registry) hands a reply over; one
// algorithm for every row: scripted failures first (when allowed), then a missing reply fails with
// ERROR_INVALID_FUNCTION, then room below leastRoom fails with ERROR_INSUFFICIENT_BUFFER, then the
// reply's error, then a reply longer than the room is cut to it (cutToRoom) or fails with
// ERROR_INSUFFICIENT_BUFFER.
struct HandOver {
    // A driver checks the room for its own structure before it asks the device; a property query
    // needs room for the descriptor's Version and Size; the layout checks nothing before.
    DWORD leastRoom;
    // Property queries: callers learn a descriptor's size from its head and ask again.
    bool cutToRoom;
    // The layout, whose driver may not be ready on the first attempts.
    bool scriptedFailures;
};

struct DiskRequest {
    RequestKey request;
    const char* key; // the reply's field in a description's disk
    const ReplyForm* form;
    HandOver handOver;
    DWORD structureSize; // the Windows structure the reply is (its head, for the layout)
};

// Every request, in the order of a description's disk fields.
const std::vector<DiskRequest>& DiskRequests();
// The row of a request; null for a request no simulated disk answers.
const DiskRequest* FindDiskRequest(const RequestKey& request);

// What a request gets: a failure with its error (which may be any number, 0 included), or the
// first `count` bytes of the reply.
struct HandOutcome {
    std::optional<DWORD> error;
    size_t count = 0;
};

// The outcome of the `attempt`-th request by its row's hand-over (attempts count from 0 and
// matter only where scripted failures are allowed), with `room` bytes of output and the disk's
// reply, null when it has none.
HandOutcome HandOverReply(const DiskRequest& row, const Reply* reply, DWORD room, int attempt);

} // namespace sim
