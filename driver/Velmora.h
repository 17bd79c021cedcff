#pragma once
// One run of the program: the 1 January guard, the generation phase, the send/report phase, the run log.

namespace velmora::driver {

// Performs one whole run and returns the exit status, which is 0 in every case.
int RunVelmora();

} // namespace velmora::driver
