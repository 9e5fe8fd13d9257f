// The handle table. Handles count up from 0x100 in steps of 4 and are never handed out twice.
#include "kernel32/handles.h"

#include <map>

namespace {

std::map<uintptr_t, sim::HandleEntry>& Handles() {
    static std::map<uintptr_t, sim::HandleEntry> handles;
    return handles;
}

uintptr_t nextHandleValue = 0x100;

} // namespace

namespace sim {

HANDLE AddHandle(const HandleEntry& entry) {
    uintptr_t value = nextHandleValue;
    nextHandleValue += 4;
    Handles()[value] = entry;
    return reinterpret_cast<HANDLE>(value);
}

HandleEntry* FindHandle(HANDLE handle) {
    auto found = Handles().find(reinterpret_cast<uintptr_t>(handle));
    return found == Handles().end() ? nullptr : &found->second;
}

void RemoveHandle(HANDLE handle) {
    Handles().erase(reinterpret_cast<uintptr_t>(handle));
}

int OpenHandleCount() {
    return static_cast<int>(Handles().size());
}

} // namespace sim
