// The three gateway answer readers on arbitrary bytes. They promise never to throw: a failure reads as false.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "gateway/ZentaXmlInterface.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace velmora::gateway;

namespace {

// Touches every field so the sanitizers see each value that was read.
size_t Sum(const std::string& s) { return s.size() + (s.empty() ? 0 : static_cast<unsigned char>(s[0])); }

size_t ReadAll(const std::string& text) {
    size_t seen = 0;
    TLoginResult login;
    login.LoadFromString(text);
    seen += Sum(login.Token()) + Sum(login.Explanation()) + static_cast<size_t>(login.ReturnCode());

    // Each answer is read twice into one object: the second read appends to what the first kept.
    TSendSMSResponse send;
    send.LoadFromString(text);
    const size_t firstSend = send.ResponseList().size();
    send.LoadFromString(text);
    if (send.ResponseList().size() != 2 * firstSend) velmora::fuzz::Fault("TSendSMSResponse", "second read kept another count");
    for (const auto& item : send.ResponseList())
        seen += Sum(item->ExternalId()) + Sum(item->ReturnValue()) + static_cast<size_t>(item->MessageId());
    seen += static_cast<size_t>(send.ResponseCode());

    TReportResponse report;
    report.LoadFromString(text);
    const size_t firstReport = report.ReportResponseItemList().size();
    report.LoadFromString(text);
    if (report.ReportResponseItemList().size() != 2 * firstReport)
        velmora::fuzz::Fault("TReportResponse", "second read kept another count");
    for (const auto& item : report.ReportResponseItemList())
        seen += Sum(item->ExternalId()) + Sum(item->SentDate()) + Sum(item->Status()) + Sum(item->ErrorCode()) +
                Sum(item->ErrorMessage()) + static_cast<size_t>(item->MessageId()) + item->ShouldRetry();
    seen += Sum(report.Explanation()) + static_cast<size_t>(report.ReportStatus());
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    velmora::fuzz::NothingEscapes("an answer reader threw", [&] {
        volatile size_t sink = ReadAll(text);
        (void)sink;
    });
    return 0;
}
