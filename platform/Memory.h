#pragma once
// Giving memory that a finished piece of work freed back to the system.
namespace velmora::platform {

// The allocator keeps what is freed for reuse and gives back only the top of its heap, past a threshold
// that grows with the largest block freed so far: after the rows of a batch of 100,000 are let go, tens of
// megabytes would stay with the process and the next large piece would be stacked on top of them. Called
// where such a piece was just let go; cheap, and harmless when there is nothing to give back.
void ReturnFreedMemory();

} // namespace velmora::platform
