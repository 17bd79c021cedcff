#pragma once
// One run of the program: the 1 January guard, the generation phase, the send/report phase, the run log.

namespace velmora::driver {

// The exit status of a run that did nothing because its run lock could not be opened or created.
constexpr int kLockFailedStatus = 1;

// Performs one whole run and returns the exit status: 0, or kLockFailedStatus.
int RunVelmora();

} // namespace velmora::driver
