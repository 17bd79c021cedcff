// velmora-sqlserversim: the loopback SQL Server simulator as a program, for the demo and benchmarks.
//   velmora-sqlserversim [--port N] --database NAME=SQLITE_FILE... --login USER:PASSWORD...
//                        [--delay-ms N] [--seconds N]
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "platform/Text.h"
#include "tools/sqlserversim/SqlServerSimulator.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage(const std::string& problem) {
    std::cerr << "velmora-sqlserversim: " << problem << "\n"
              << "usage: velmora-sqlserversim [--port N] --database NAME=SQLITE_FILE... --login USER:PASSWORD...\n"
              << "       [--delay-ms N] [--seconds N]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    velmora::sqlsim::SqlServerSimulator server;
    long port = 0, delay = 0, seconds = 0;
    bool haveDatabase = false, haveLogin = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return Usage("missing value after " + arg);
        std::string value = argv[++i];
        if (arg == "--port") {
            if (!velmora::platform::ParseWhole(value, port) || port < 0 || port > 65535) return Usage("bad port " + value);
        } else if (arg == "--database") {
            size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) return Usage("--database takes NAME=SQLITE_FILE");
            server.AddDatabase(value.substr(0, eq), value.substr(eq + 1));
            haveDatabase = true;
        } else if (arg == "--login") {
            size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0) return Usage("--login takes USER:PASSWORD");
            server.AddLogin(value.substr(0, colon), value.substr(colon + 1));
            haveLogin = true;
        } else if (arg == "--delay-ms") {
            if (!velmora::platform::ParseWhole(value, delay) || delay < 0) return Usage("bad delay " + value);
        } else if (arg == "--seconds") {
            if (!velmora::platform::ParseWhole(value, seconds) || seconds < 0) return Usage("bad duration " + value);
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (!haveDatabase || !haveLogin) return Usage("at least one --database and one --login are needed");
    server.SetRequestDelayMilliseconds(static_cast<int>(delay));
    try {
        server.Start(static_cast<int>(port));
    } catch (const std::exception& e) {
        std::cerr << "velmora-sqlserversim: " << e.what() << "\n";
        return 1;
    }
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    std::cout << "velmora-sqlserversim listening on " << server.ServerText() << std::endl;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!g_stop && (seconds == 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::cout << "velmora-sqlserversim: " << server.RequestCount() << " requests, " << server.LoginCount() << " logins"
              << std::endl;
    server.Stop();
    return 0;
}
