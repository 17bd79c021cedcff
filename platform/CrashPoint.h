#pragma once
// Named moments at which a test may have the program killed outright, to prove what survives a crash.
namespace velmora::platform {

// When VELMORA_CRASH_AT names this point, the process ends at once, as kill -9 would end it: no
// destructor, no flush, no log. A scheduled run never sets the variable.
void CrashPoint(const char* name);

} // namespace velmora::platform
