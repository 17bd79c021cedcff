// velmora-gatewaysim: the loopback gateway simulator as a program, for the demo.
//   velmora-gatewaysim [--port N] [--account user:password]... [--status MSGID:CODE]...
//                      [--default-status CODE] [--fault NAME[:Operation]]... [--send-decision TA:MSGID[:TEXT]]...
//                      [--namespace URI] [--slow-seconds X] [--seconds N]
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Text.h"
#include "tools/gatewaysim/GatewaySimulator.h"

using velmora::sim::Fault;

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage(const std::string& problem) {
    std::cerr << "velmora-gatewaysim: " << problem << "\n"
              << "usage: velmora-gatewaysim [--port N] [--account user:password]... [--status MSGID:CODE]...\n"
              << "       [--default-status CODE] [--fault NAME[:Operation]]... [--send-decision TA:MSGID[:TEXT]]...\n"
              << "       [--namespace URI] [--slow-seconds X] [--seconds N]\n"
              << "faults: RefuseLogin Http500 SoapFault DropConnection SlowAnswer MalformedXml PartialAnswer\n"
              << "        UnknownEids RepeatedEids BatchRefused; operations: ApiLogin SendBulkSMS Report\n";
    return 2;
}

bool ParseFault(const std::string& name, Fault& out) {
    static const std::pair<const char*, Fault> kNames[] = {
        {"RefuseLogin", Fault::RefuseLogin},   {"Http500", Fault::Http500},
        {"SoapFault", Fault::SoapFault},       {"DropConnection", Fault::DropConnection},
        {"SlowAnswer", Fault::SlowAnswer},     {"MalformedXml", Fault::MalformedXml},
        {"PartialAnswer", Fault::PartialAnswer}, {"UnknownEids", Fault::UnknownEids},
        {"RepeatedEids", Fault::RepeatedEids}, {"BatchRefused", Fault::BatchRefused},
    };
    for (const auto& [text, fault] : kNames) {
        if (name == text) {
            out = fault;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    velmora::sim::SimulatorOptions options;
    long seconds = 600;
    std::vector<std::pair<std::string, std::string>> accounts;
    std::vector<std::pair<int, std::string>> statuses;
    std::vector<std::pair<Fault, std::string>> faults;
    struct SendDecision { std::string target; int id; std::string text; };
    std::vector<SendDecision> decisions;
    std::string defaultStatus;
    bool haveDefaultStatus = false;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage("a loopback stand-in for the SMS gateway");
            return 0;
        }
        if (i + 1 >= argc) return Usage("missing value after " + arg);
        std::string value = argv[++i];
        long number = 0;
        if (arg == "--port") {
            if (!velmora::platform::ParseWhole(value, number) || number < 0 || number > 65535) return Usage("bad port: " + value);
            options.port = static_cast<int>(number);
        } else if (arg == "--seconds") {
            if (!velmora::platform::ParseWhole(value, number) || number <= 0) return Usage("bad number of seconds: " + value);
            seconds = number;
        } else if (arg == "--slow-seconds") {
            char* end = nullptr;
            options.slowSeconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || options.slowSeconds < 0) return Usage("bad number of seconds: " + value);
        } else if (arg == "--namespace") {
            options.namespaceUri = value;
        } else if (arg == "--account") {
            size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0) return Usage("an account is user:password, not " + value);
            accounts.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else if (arg == "--status") {
            size_t colon = value.find(':');
            if (colon == std::string::npos || !velmora::platform::ParseWhole(value.substr(0, colon), number))
                return Usage("a status is MSGID:CODE, not " + value);
            statuses.emplace_back(static_cast<int>(number), value.substr(colon + 1));
        } else if (arg == "--default-status") {
            defaultStatus = value;
            haveDefaultStatus = true;
        } else if (arg == "--fault") {
            size_t colon = value.find(':');
            Fault fault = Fault::None;
            if (!ParseFault(value.substr(0, colon), fault)) return Usage("unknown fault: " + value);
            std::string operation = colon == std::string::npos ? std::string() : value.substr(colon + 1);
            if (!operation.empty() && operation != "ApiLogin" && operation != "SendBulkSMS" && operation != "Report")
                return Usage("unknown operation: " + operation);
            faults.emplace_back(fault, operation);
        } else if (arg == "--send-decision") {
            size_t first = value.find(':');
            size_t second = first == std::string::npos ? std::string::npos : value.find(':', first + 1);
            if (first == std::string::npos || first == 0 ||
                !velmora::platform::ParseWhole(value.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1),
                           number))
                return Usage("a send decision is TA:MSGID[:TEXT], not " + value);
            decisions.push_back({value.substr(0, first), static_cast<int>(number),
                                 second == std::string::npos ? std::string(number < 0 ? "Refused" : "OK")
                                                             : value.substr(second + 1)});
        } else {
            return Usage("unknown option " + arg);
        }
    }

#ifdef _WIN32
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
#endif

    try {
        velmora::sim::GatewaySimulator simulator(options);
        for (const auto& [user, password] : accounts) simulator.AddAccount(user, password);
        for (const auto& [id, code] : statuses) simulator.SetDeliveryStatus(id, code);
        for (const auto& d : decisions) simulator.SetSendDecision(d.target, d.id, d.text);
        for (const auto& [fault, operation] : faults) simulator.SetFault(fault, operation);
        if (haveDefaultStatus) simulator.SetDefaultDeliveryStatus(defaultStatus);
        simulator.Start();
        std::cout << "listening on " << simulator.Host() << std::endl;

        // A forgotten simulator must not live forever.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!g_stop && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        simulator.Stop();
        std::cout << "stopped after " << simulator.Requests().size() << " requests" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "velmora-gatewaysim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
