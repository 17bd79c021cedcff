// Counting the requests of a session.
#include "tests/RequestCountingBackend.h"

namespace velmora::test {

RequestCountingBackend::RequestCountingBackend(std::unique_ptr<db::IDbBackend> inner, RequestCounter* counter)
    : inner_(std::move(inner)), counter_(counter) {}

void RequestCountingBackend::Execute(const std::string& sql, const std::vector<db::Value>& params,
                                     db::ResultData* result) {
    ++counter_->requests;
    inner_->Execute(sql, params, result);
}

int64_t RequestCountingBackend::LastIdentity() { return inner_->LastIdentity(); }

std::string RequestCountingBackend::KeyColumn(const std::string& table) {
    ++counter_->requests;
    return inner_->KeyColumn(table);
}

std::vector<std::string> RequestCountingBackend::TableColumns(const std::string& table) {
    ++counter_->requests;
    return inner_->TableColumns(table);
}

bool RequestCountingBackend::TryLockSendReport() {
    ++counter_->requests;
    return inner_->TryLockSendReport();
}

void RequestCountingBackend::UnlockSendReport() {
    ++counter_->requests;
    inner_->UnlockSendReport();
}

} // namespace velmora::test
