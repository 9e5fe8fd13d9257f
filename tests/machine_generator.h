// Random machines for the tests and the benchmark, the same for the same seed.
#pragma once

#include <sim/machine.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

// Machines as one capture can see them: a single interface list. The rest varies as the fuzzer
// varies it, on a smaller scale: any reply failing, missing, cut short or typed; layouts that
// fail first or never come; nodes found, refused, scripted, without ID or without interface;
// controllers that fail, hand out a null handle or answer disk by disk.
class MachineGenerator {
  public:
    explicit MachineGenerator(unsigned seed) : random_(seed) {}

    sim::Machine Machine();

  private:
    int Roll(int low, int high);
    bool OneIn(int n);
    DWORD Error();

    // Mostly short; sometimes at or beyond what the lookup's buffers hold.
    std::wstring Text();

    std::optional<std::wstring> MaybeText();
    std::vector<BYTE> Bytes(int maximum);
    std::optional<sim::Reply> Reply(const sim::Reply& typed);
    std::wstring Path(int k);
    sim::Reply Layout();
    sim::Disk Disk(int k);
    std::wstring ParentId();
    sim::DeviceNode Node(const std::wstring& id);

    // Nodes for most disks (sometimes two of one ID), for the parents, and now and then a
    // scripted answer to one of their queries.
    void AddNodes(sim::Machine& machine);

    sim::MiniportAnswer Answer();

    // Answers for the IDs the disks' typed addresses give, and for ID 0, that of a disk whose
    // address is unknown.
    sim::Controller Controller(const sim::Machine& machine);
    std::mt19937 random_;
};

} // namespace testing_support
