#pragma once

// Counts the blocks of the COM task allocator (where BSTRs live) that are alive, to see whether
// strings handed to or made by the driver are freed, and makes that allocator fail on demand.
// Strings come from the allocator only when the runtime's string cache is off (OANOCACHE set
// in the environment of the process).

#include <cstddef>

namespace wedgecard::test {

// Registered for the life of the process from the first object on; the thread must be in COM.
class TAllocationSpy {
public:
    TAllocationSpy();
    TAllocationSpy(const TAllocationSpy&) = delete;
    TAllocationSpy& operator=(const TAllocationSpy&) = delete;
    ~TAllocationSpy();

    [[nodiscard]] bool Registered() const noexcept { return FRegistered; }
    // Blocks of at least Bytes allocated since registration and not yet freed.
    [[nodiscard]] std::size_t LiveBlocksOfAtLeast(std::size_t Bytes) const;
    // Every allocation of the calling thread fails while Failing is true.
    void FailAllocations(bool Failing) const;

private:
    bool FRegistered = false;
};

}  // namespace wedgecard::test
