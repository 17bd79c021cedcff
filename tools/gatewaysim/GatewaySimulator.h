#pragma once
// A loopback stand-in for the SMS gateway: HTTP, SOAP 1.2 and the gateway's three documents.
// Used in-process by tests and benchmarks, and as a standalone program by the demo.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmora::sim {

enum class Fault {
    None,
    RefuseLogin,        // login answer with RTCD -1
    Http500,            // HTTP 500 with a plain body
    SoapFault,          // HTTP 500 with a SOAP 1.2 Fault envelope
    DropConnection,     // the connection is closed without an answer
    SlowAnswer,         // the answer comes after slowSeconds
    MalformedXml,       // the result element holds text that is not XML
    PartialAnswer,      // only every other message is mentioned in the answer
    UnknownEids,        // the answer mentions EIDs that were never sent (plus the real ones)
    RepeatedEids,       // every message is mentioned twice
    BatchRefused,       // send/report answer with RTCD 0
};

// Which operation a fault applies to: "ApiLogin", "SendBulkSMS", "Report", or "" for every call.
struct FaultRule {
    Fault fault = Fault::None;
    std::string operation;
};

struct ReceivedRequest {
    std::string path;         // including the query, e.g. "/Tellvio/4.4/API/ApiService.asmx?WSDL"
    std::string contentType;  // the whole Content-Type header
    std::string body;         // the whole SOAP envelope as received
    std::string operation;    // element name found in the SOAP body ("ApiLogin", ...)
    std::string data;         // the unescaped text of the "data" element: the gateway document
};

struct SimulatorOptions {
    std::string namespaceUri = "http://tellvio.com/api/4.4/";
    int port = 0;  // 0: any free loopback port
    double slowSeconds = 5.0;
};

class GatewaySimulator {
public:
    explicit GatewaySimulator(SimulatorOptions options = {});
    ~GatewaySimulator();  // stops the server

    void Start();   // listens on 127.0.0.1; returns when ready
    void Stop();
    int Port() const;
    // "127.0.0.1:<port>", the host part for the client's address.
    std::string Host() const;

    // Accounts: user name -> password. A login with another password gets RTCD -1.
    void AddAccount(const std::string& user, const std::string& password);

    // Per-message decision at sending, keyed by the target address (TA): a negative id refuses it.
    // Messages without a decision are accepted with a fresh id counting up from 1000.
    void SetSendDecision(const std::string& targetAddress, int messageId, const std::string& resultText);
    // Delivery status per gateway message id (MSGID) for reports; default "OPN".
    void SetDeliveryStatus(int messageId, const std::string& status);
    void SetDefaultDeliveryStatus(const std::string& status);

    void SetFault(Fault fault, const std::string& operation = "");
    void ClearFaults();

    // Called on the server's thread for every request of the service, once it is recorded and before it is
    // answered: tests use it to act at an exact moment of a client's run (kill it, lock its database).
    void SetRequestHook(std::function<void(const ReceivedRequest&)> hook);

    std::vector<ReceivedRequest> Requests() const;
    void ClearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace velmora::sim
