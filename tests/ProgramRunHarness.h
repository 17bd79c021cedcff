#pragma once
// The built program run against the gateway simulator for one tenant, run after run, with the means to
// break a run (kill it at a chosen moment, fill or freeze its disk, lock its database) and to count what
// the gateway received per queue row. Shared by the fault-table tests.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/TestSupport.h"
#include "tools/gatewaysim/GatewaySimulator.h"

namespace velmora::test {

using EnvList = std::vector<std::pair<std::string, std::string>>;

class ProgramRunHarness {
public:
    // A program folder with the executable, "Settings.xml", a program database listing one tenant, and the
    // tenant database at tenantPath (empty: in the harness's own folder) with rows pending queue rows,
    // ids 1..rows, oldest first. The simulator runs in this process with the tenant's gateway account.
    // VELMORA_HARNESS_PROGRAM names another build of the program to run (benchmarks compare builds).
    explicit ProgramRunHarness(int rows, const std::string& tenantPath = "");
    // A second machine: a program folder of its own (own lock file, log and journal folder) serving the
    // peer's tenant database through the peer's simulator. Kills on request belong to the peer.
    explicit ProgramRunHarness(ProgramRunHarness& peer);
    ~ProgramRunHarness();

    sim::GatewaySimulator& Gateway() { return *gateway_; }
    const std::string& TenantPath() const { return tenant_; }
    const std::string& JournalFolder() const { return journals_; }
    const TempDir& Dir() const { return dir_; }

    // Runs the program once to its end (or its death) with these extra variables. Returns the exit
    // status, or minus the signal that ended it.
    int Run(const EnvList& env = {});
    // The same in two steps, so that runs of two harnesses overlap (POSIX only).
    void Start(const EnvList& env = {});
    int Wait();
    // The next run is killed (SIGKILL) the moment the gateway receives this operation, before it answers.
    void KillOnRequest(const std::string& operation) { killOn_ = operation; }
    // The next run is killed as soon as condition holds (polled while it runs; benchmarks only: the
    // moment depends on timing).
    void KillWhen(std::function<bool()> condition) { killWhen_ = std::move(condition); }

    std::string LogText() const;  // the last run's log, UTF-8; empty when it wrote none
    bool JournalLeft() const;     // a verdict journal waits in the journal folder
    // How often each row id reached the gateway in a SENDSMS batch, over every run so far.
    std::map<int64_t, int> Receipts() const;
    std::vector<int> States() const;  // durum by id

private:
    TempDir dir_;
    std::string tenant_;
    std::string journals_;
    std::string exe_;
    std::unique_ptr<sim::GatewaySimulator> ownGateway_;
    sim::GatewaySimulator* gateway_ = nullptr;
    std::string killOn_;
    std::function<bool()> killWhen_;
    std::atomic<int> child_{0};
    std::atomic<bool> ended_{false};
    std::thread watcher_;
    int windowsStatus_ = -1;  // the running program, read by the simulator's thread
};

// A small tmpfs mounted at a new folder (Linux, as root) for real disk-full and read-only faults.
class TmpfsMount {
public:
    TmpfsMount(const std::string& path, int kibibytes);
    ~TmpfsMount();
    bool Mounted() const { return mounted_; }
    const std::string& Path() const { return path_; }
    bool SetReadOnly(bool readOnly);
    // Fills the free space with a file; returns its path.
    std::string Fill();
private:
    std::string path_;
    int kibibytes_;
    bool mounted_ = false;
};

// Creates a tenant database file from our schema with the gateway account "demo"/"secret" and rows
// pending rows.
void MakeTenantWithPendingRows(const std::string& path, int rows);

} // namespace velmora::test
