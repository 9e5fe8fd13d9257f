// The storage requests a simulated disk answers, one row each: the control code (and property),
// the Disk member it answers from, the reply's field in a description with its typed form, the
// Windows structure's size, and how the stand-in hands the reply over. The stand-in, the
// description reader and writer, and the fuzzer all go by this table, so that a new kind of
// reply is a new row (with its Disk member and its typed form).
#pragma once

#include <sim/machine.h>

#include <optional>
#include <vector>

namespace sim {

// The typed form of a reply in a description; the model's reader and writer know it.
struct ReplyForm;

// How the stand-in hands a reply over. A reply left out fails with ERROR_INVALID_FUNCTION first.
enum class Delivery {
    // A fixed structure: room for less than the structure fails with ERROR_INSUFFICIENT_BUFFER
    // before the device is asked; then a scripted error; then a reply longer than the room fails
    // the same way, as a driver that checks the room for its own structure does, and a shorter
    // one is delivered as it is.
    FixedStructure,
    // A storage property: room for the descriptor's Version and Size at least
    // (STORAGE_DESCRIPTOR_HEADER), then a scripted error, then as much of the reply as fits:
    // callers learn a descriptor's size from its head and ask again.
    PropertyCutToBuffer,
    // The drive layout: first the disk's scripted failures (Disk::layoutFailures), then a
    // scripted error, then the whole reply or ERROR_INSUFFICIENT_BUFFER, never the entries that
    // fit.
    WholeAfterScriptedFailures,
};

struct DiskRequest {
    DWORD controlCode;
    std::optional<DWORD> propertyId; // IOCTL_STORAGE_QUERY_PROPERTY: the property asked for
    std::optional<Reply> Disk::*reply;
    const char* key; // the reply's field in a description's disk
    const ReplyForm* form;
    DWORD structureSize; // the Windows structure the reply is (its head, for the layout)
    Delivery delivery;
};

// Every request, in the order of a description's disk fields.
const std::vector<DiskRequest>& DiskRequests();
// The request for a control code, or for IOCTL_STORAGE_QUERY_PROPERTY and a property; null for
// any other.
const DiskRequest* FindDiskRequest(DWORD controlCode, std::optional<DWORD> propertyId);

} // namespace sim
