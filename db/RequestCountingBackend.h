#pragma once
// A backend wrapper that counts the requests a session sends and can hold each one back, as a network
// round trip would: the benchmarks measure with it how a run behaves on a LAN.
#include <chrono>
#include <memory>
#include <string>

#include "db/DbBackend.h"

namespace velmora::db {

struct RequestCounter {
    long long requests = 0;
};

class RequestCountingBackend : public IDbBackend {
public:
    RequestCountingBackend(std::unique_ptr<IDbBackend> inner, RequestCounter* counter,
                           std::chrono::microseconds delay = std::chrono::microseconds(0));

    void Execute(const std::string& sql, const std::vector<Value>& params, ResultData* result) override;
    int64_t LastIdentity() override;  // read with the insert on SQL Server: not a request of its own
    std::string KeyColumn(const std::string& table) override;
    std::vector<std::string> TableColumns(const std::string& table) override;
    bool TryLockSendReport() override;
    void UnlockSendReport() override;

private:
    void Request();
    std::unique_ptr<IDbBackend> inner_;
    RequestCounter* counter_;
    std::chrono::microseconds delay_;
};

// Wraps the backend when VELMORA_DB_DELAY_US (a delay per request, microseconds) or VELMORA_DB_REQUEST_LOG
// (a file that gets one line "<database> <requests>" when the session closes) is set; else returns it as is.
std::unique_ptr<IDbBackend> WrapForMeasurement(std::unique_ptr<IDbBackend> backend, const std::string& database);

} // namespace velmora::db
