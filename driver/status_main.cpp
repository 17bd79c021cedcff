// velmora-status: what waits, what was sent, refused and reported per tenant; and a run's preview.
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "driver/Status.h"
#include "platform/Clock.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // The texts are UTF-8.
    SetConsoleOutputCP(CP_UTF8);
#endif
    try {
        velmora::platform::PinClockFromEnvironment();
        return velmora::driver::RunStatusTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
}
