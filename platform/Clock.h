#pragma once
// The local clock of the machine. Tests and the demo pin it so that "today" can be any day.
#include <functional>
#include "platform/DateTime.h"

namespace velmora::platform {

TDateTime Now();    // local date and time, milliseconds included
TDateTime Today();  // local date at 00:00

// Tests: a clock that returns exactly this value until changed.
void SetFixedNow(TDateTime value);
// A clock that starts at this value and then advances with real time (the executable's seam).
void SetStartingNow(TDateTime value);
void SetClockSource(std::function<TDateTime()> source);
void ResetClock();  // back to the machine's clock

// The executable's only seam: VELMORA_NOW="YYYY-MM-DD HH:MM:SS" starts the clock at that moment.
// Returns false (and leaves the clock alone) when the variable is absent or malformed.
bool PinClockFromEnvironment();

} // namespace velmora::platform
