// The clock, pinned by VELMORA_NOW for tests and demos.
#include "platform/Clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

#include "platform/Paths.h"

namespace velmora::platform {

namespace {

TDateTime MachineNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    DateTimeParts p;
    p.year = local.tm_year + 1900;
    p.month = local.tm_mon + 1;
    p.day = local.tm_mday;
    p.hour = local.tm_hour;
    p.minute = local.tm_min;
    p.second = local.tm_sec;
    p.millisecond = ms;
    return EncodeDateTime(p);
}

std::function<TDateTime()>& Source() {
    static std::function<TDateTime()> source = MachineNow;
    return source;
}

} // namespace

TDateTime Now() { return Source()(); }
TDateTime Today() { return DateOf(Now()); }

void SetFixedNow(TDateTime value) {
    Source() = [value] { return value; };
}

void SetStartingNow(TDateTime value) {
    auto start = std::chrono::steady_clock::now();
    int64_t base = DateTimeToMilliseconds(value);
    Source() = [start, base] {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return MillisecondsToDateTime(base + elapsed.count());
    };
}

void SetClockSource(std::function<TDateTime()> source) { Source() = std::move(source); }
void ResetClock() { Source() = MachineNow; }

bool PinClockFromEnvironment() {
    std::string text = GetEnv("VELMORA_NOW");
    TDateTime value = 0;
    if (text.empty() || !TryParseIsoDateTime(text, value)) return false;
    SetStartingNow(value);
    return true;
}

} // namespace velmora::platform
