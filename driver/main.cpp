// The program entry: no window, no arguments, one run, exit status 0.
#include "driver/Velmora.h"
#include "platform/Clock.h"

int main() {
    try {
        // The one seam for pinning the clock (VELMORA_NOW), read by the executable alone.
        velmora::platform::PinClockFromEnvironment();
        return velmora::driver::RunVelmora();
    } catch (...) {
        return 0;
    }
}
