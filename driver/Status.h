#pragma once
// The status tool's work: per active tenant the queue's states, the oldest pending row and the schedule
// stamps, read only; and the preview of what a run at a chosen moment would queue, rolled back.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "platform/DateTime.h"

namespace velmora::driver {

struct TenantStatus {
    std::string database;  // veritabani of the registry row
    std::string server;    // sunucu of the registry row
    bool reachable = false;
    std::string failure;   // why not, when unreachable
    long long pending = 0, sent = 0, refused = 0, reported = 0;
    std::optional<TDateTime> oldestPending;  // kayit_tarihi of the oldest pending row
    bool hasStamps = false;                  // tbNuvoSonKontrol has a row
    std::optional<TDateTime> afterPurchase, specialDays, instalments, overdue;
};

// Reads one tenant on a fresh, closed connection made from its registry row: opens it, reads, closes it.
// Never writes. A failure is kept in the result, not thrown.
TenantStatus ReadTenantStatus(db::TDbConnection& tenant);

// Every active tenant of the registry on the open program connection, in the registry's order.
std::vector<TenantStatus> ReadAllTenantStatus(db::TDbConnection& program);

// The lines for one tenant; now gives the oldest pending row's age.
void PrintTenantStatus(std::ostream& out, const TenantStatus& status, TDateTime now);

struct PreviewMessage {
    int group = 0;
    std::string gsm;   // as it would be stored
    std::string text;
};

struct PreviewResult {
    std::vector<PreviewMessage> messages;
    std::string failure;  // the generation's result text, or the error that ended it; empty when none
};

// Runs the generation phase for the tenant (a fresh, closed connection) on the current clock (the tool
// starts it at --at) inside a transaction that is rolled back: queue rows, record rows and stamps are left
// as they were, nothing is sent. Throws when the tenant cannot be opened or read.
PreviewResult PreviewTenant(db::TDbConnection& tenant);

// The command line of velmora-status (arguments without the program name). Returns the exit status:
// 0 every tenant reachable (preview: generated without failure), 1 a tenant unreachable (preview: the
// generation failed), 2 the settings, the program database or the arguments are wrong.
int RunStatusTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace velmora::driver
