#pragma once
// The send/report cycle: every active tenant's pending rows go out, then their reports come in.
#include <functional>
#include <string>
#include <vector>

#include "queue/SMSAyarlari.h"
#include "db/DbConnection.h"
#include "queue/VerdictJournal.h"

namespace velmora::config {

class TVelmora {
public:
    TVelmora();   // initialises COM for the thread, creates the closed program connection
    ~TVelmora();  // destroys the connection, uninitialises COM

    void Execute();

    db::TDbConnection ProgramConnection;

    // One line per tenant whose sending or reporting failed, for the run log: a failed send must not
    // look like success to the operator.
    std::vector<std::string> Failures;

    // The folder of the tenants' verdict journals; empty: no journal (verdicts go to the table alone).
    std::string JournalFolder;

private:
    enum class StepEnd { Done, Failed, VerdictsUnwritable };

    bool ConnectProgramDatabase();
    // One run-log line: "<failed> (<tenant>): <reason>".
    void Fail(const std::string& failed, const std::string& tenant, const std::string& reason);
    // Runs one step of a tenant's sending or reporting; whatever it throws becomes one run-log line, so one
    // tenant's failure never stops the others.
    StepEnd GuardStep(const std::string& tenant, const char* failed, const std::function<void()>& step);
    void LoadSMSSettings(queue::TSMSAyarlari& settings, db::TDbConnection& connection);
    // Sends and reports for one tenant while holding its send/report lock; false when another run holds it.
    // Throws when the tenant cannot be reached, its lock cannot be asked for or its settings cannot be read.
    bool ServeTenant(db::TDbConnection& tenant, queue::TSMSAyarlari& settings);
    // Writes what a journal left by an earlier run holds; false when the tenant must not be served now.
    bool ReplayJournal(db::TDbConnection& tenant, const queue::TVerdictJournal& journal);
};

} // namespace velmora::config
