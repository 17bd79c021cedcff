#pragma once
// A backend wrapper that counts the requests a session sends: tests of the embedded and ODBC routes
// check with it how many round trips a piece of work costs (the SQL Server simulator counts its own).
#include <memory>
#include <string>

#include "db/DbBackend.h"

namespace velmora::test {

struct RequestCounter {
    long long requests = 0;
};

class RequestCountingBackend : public db::IDbBackend {
public:
    RequestCountingBackend(std::unique_ptr<db::IDbBackend> inner, RequestCounter* counter);

    void Execute(const std::string& sql, const std::vector<db::Value>& params, db::ResultData* result) override;
    int64_t LastIdentity() override;  // read with the insert on SQL Server: not a request of its own
    std::string KeyColumn(const std::string& table) override;
    std::vector<std::string> TableColumns(const std::string& table) override;
    bool TryLockSendReport() override;
    void UnlockSendReport() override;

private:
    std::unique_ptr<db::IDbBackend> inner_;
    RequestCounter* counter_;
};

} // namespace velmora::test
