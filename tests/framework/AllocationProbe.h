// Watches the largest single allocation made through operator new while a probe is alive, so
// that tests can prove a reader never allocates for a length it has not seen the bytes of.
#pragma once

#include <cstddef>

class AllocationProbe {
public:
    AllocationProbe();
    ~AllocationProbe();
    AllocationProbe(const AllocationProbe&) = delete;
    AllocationProbe& operator=(const AllocationProbe&) = delete;

    /// The largest single request since the probe was made, in bytes.
    std::size_t Largest() const;
};
