// Writes a SENDSMS of 100,000 messages and reads a send answer of 100,000 entries; prints time, document
// sizes and the peak resident memory after each step. Run by hand.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "gateway/ZentaXmlInterface.h"
#include "soap/SoapClient.h"

namespace {

constexpr int kMessages = 100000;

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

double Megabytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

template <class F>
double Seconds(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string SendAnswer() {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><SENDSMSRESULT><RTCD>1</RTCD><RSP_LIST>";
    out.reserve(static_cast<size_t>(kMessages) * 80);
    for (int i = 0; i < kMessages; ++i) {
        out += "<RSP><MSGID>";
        out += std::to_string(1000 + i);
        out += "</MSGID><EID>";
        out += std::to_string(i + 1);
        out += "</EID><RESULT>OK</RESULT></RSP>";
    }
    out += "</RSP_LIST></SENDSMSRESULT>";
    return out;
}

} // namespace

int main() {
    using namespace velmora::gateway;
    std::printf("baseline peak RSS: %.1f MB\n", PeakMegabytes());

    TSendSMS request(false);
    request.SetToken("0123456789abcdef0123456789abcdef");
    request.SetJobId("DEV");
    request.SetCampaignGroup("KANAL");
    const double fill = Seconds([&] {
        for (int i = 0; i < kMessages; ++i) {
            request.AddSMSItem("90532" + std::to_string(1000000 + i), std::to_string(i + 1),
                               "Sayın müşterimiz, doğum gününüzü kutlar & size özel %20 indirim sunarız. "
                               "Mağazamızda sizi bekliyoruz. İyi günler!",
                               "");
        }
    });
    const double afterFill = PeakMegabytes();
    std::printf("filled %d recipients: %.3f s, peak RSS %.1f MB\n", kMessages, fill, afterFill);

    std::string document;
    const double write = Seconds([&] { document = request.AsString(); });
    const double afterWrite = PeakMegabytes();
    std::printf("SENDSMS AsString: %.3f s, document %.1f MB, peak RSS %.1f MB (+%.1f MB over the filled request)\n",
                write, Megabytes(document.size()), afterWrite, afterWrite - afterFill);

    std::string envelope;
    const double wrap = Seconds([&] {
        envelope = velmora::soap::BuildEnvelope("http://tellvio.com/api/4.4/", "SendBulkSMS", document);
    });
    const double afterWrap = PeakMegabytes();
    std::printf("SOAP envelope: %.3f s, envelope %.1f MB, peak RSS %.1f MB (+%.1f MB)\n", wrap,
                Megabytes(envelope.size()), afterWrap, afterWrap - afterWrite);
    envelope.clear();
    envelope.shrink_to_fit();
    document.clear();
    document.shrink_to_fit();

    const std::string answer = SendAnswer();
    const double beforeRead = PeakMegabytes();
    TSendSMSResponse response;
    bool ok = false;
    const double read = Seconds([&] { ok = response.LoadFromString(answer); });
    const double afterRead = PeakMegabytes();
    std::printf("send answer LoadFromString: %.3f s, answer %.1f MB, %zu entries, ok=%d, peak RSS %.1f MB "
                "(+%.1f MB)\n",
                read, Megabytes(answer.size()), response.ResponseList().size(), ok ? 1 : 0, afterRead,
                afterRead - beforeRead);
    return ok && response.ResponseList().size() == static_cast<size_t>(kMessages) ? 0 : 1;
}
