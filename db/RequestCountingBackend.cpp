// Counting (and optionally delaying) the requests of a session.
#include "db/RequestCountingBackend.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/Paths.h"

namespace velmora::db {

RequestCountingBackend::RequestCountingBackend(std::unique_ptr<IDbBackend> inner, RequestCounter* counter,
                                               std::chrono::microseconds delay)
    : inner_(std::move(inner)), counter_(counter), delay_(delay) {}

void RequestCountingBackend::Request() {
    if (counter_) ++counter_->requests;
    if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
}

void RequestCountingBackend::Execute(const std::string& sql, const std::vector<Value>& params, ResultData* result) {
    Request();
    inner_->Execute(sql, params, result);
}

int64_t RequestCountingBackend::LastIdentity() { return inner_->LastIdentity(); }

std::string RequestCountingBackend::KeyColumn(const std::string& table) {
    Request();
    return inner_->KeyColumn(table);
}

std::vector<std::string> RequestCountingBackend::TableColumns(const std::string& table) {
    Request();
    return inner_->TableColumns(table);
}

bool RequestCountingBackend::TryLockSendReport() {
    Request();
    return inner_->TryLockSendReport();
}

void RequestCountingBackend::UnlockSendReport() {
    Request();
    inner_->UnlockSendReport();
}

namespace {

// Owns the count of a measured session and writes it to the log when the session closes.
class LoggedSession : public RequestCountingBackend {
public:
    LoggedSession(std::unique_ptr<IDbBackend> inner, std::chrono::microseconds delay, std::string log,
                  std::string database)
        : RequestCountingBackend(std::move(inner), &counter_, delay), log_(std::move(log)),
          database_(std::move(database)) {}
    ~LoggedSession() override {
        if (log_.empty()) return;
        if (FILE* f = std::fopen(log_.c_str(), "a")) {
            std::fprintf(f, "%s %lld\n", database_.c_str(), counter_.requests);
            std::fclose(f);
        }
    }
private:
    RequestCounter counter_;
    std::string log_;
    std::string database_;
};

} // namespace

std::unique_ptr<IDbBackend> WrapForMeasurement(std::unique_ptr<IDbBackend> backend, const std::string& database) {
    const std::string delayText = platform::GetEnv("VELMORA_DB_DELAY_US");
    const std::string log = platform::GetEnv("VELMORA_DB_REQUEST_LOG");
    if (delayText.empty() && log.empty()) return backend;
    const long long delay = std::strtoll(delayText.c_str(), nullptr, 10);
    // Bounded: a mistyped value must not stall a run for hours.
    const long long bounded = delay < 0 ? 0 : (delay > 1000000 ? 1000000 : delay);
    return std::make_unique<LoggedSession>(std::move(backend), std::chrono::microseconds(bounded), log, database);
}

} // namespace velmora::db
