#pragma once
// The generation run: for every active tenant, the campaigns compose messages into the queue.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "platform/DateTime.h"
#include "platform/Money.h"
#include "queue/SMSConstV2.h"

namespace velmora::campaigns {

// The figures of one store for the day's sales summary.
struct TDepoSatisInfo {
    std::string DepoKodu;
    Currency Ciro;
    int32_t SatisMiktari = 0;
    int32_t IadeMiktari = 0;
    int32_t Net = 0;
};
using PDepoSatisInfo = TDepoSatisInfo*;

// Finds the store's figures in the list, or scans the open sales result for them (see the summaries).
PDepoSatisInfo LoadStoreSales(db::TDbQuery& salesQuery, std::vector<std::unique_ptr<TDepoSatisInfo>>& list,
                              const std::string& depoKodu, std::unique_ptr<TDepoSatisInfo>& unlisted);

// The ready statement of a custom-query schedule row: its definition document, parameters filled in.
std::string LoadCustomQueryDefinition(db::TDbQuery& scheduleQuery);
// Replaces "{{column}}" (letter case ignored) with each result column's text, verbatim.
std::string FillTemplateFromRow(const std::string& templ, db::TDbQuery& row);
// A unique temporary file name with the given extension (".xml"); no file of that name exists afterwards.
std::string MakeTempFileName(const std::string& extension);

class TSMSCheck {
public:
    TSMSCheck();   // initialises COM for the thread, creates the closed program connection
    ~TSMSCheck();  // destroys the connection, uninitialises COM

    std::string Execute();

    std::string ExecutionResult;
    db::TDbConnection ProgramConnection;

    static TDateTime GetServerDateTime(db::TDbConnection& connection);
    static TDateTime CombineDateAndTime(TDateTime dateSource, TDateTime timeSource);
    static bool SameHourAndMinute(TDateTime a, TDateTime b);

    // The campaign routines, each given the open tenant connection. Public so tests can drive one alone.
    void CheckRetailSales(db::TDbConnection& connection);
    void CheckAfterPurchase(db::TDbConnection& connection, TDateTime previousCheck);
    void CheckSpecialDays(db::TDbConnection& connection);
    void CheckInstalments(db::TDbConnection& connection);
    void CheckOverduePayments(db::TDbConnection& connection);
    void CheckCustomQueries(db::TDbConnection& connection, TDateTime now);
    void CheckPrepaidOrders(db::TDbConnection& connection, TDateTime now);

    // One tenant's whole generation on its open connection, from the date format to the prepaid orders,
    // leaving the connection open (the status tool's preview rolls it back). Errors not caught by a
    // campaign leave it.
    void GenerateForTenant(db::TDbConnection& tenant);

    // The one way a generated message enters the queue; failures go to ExecutionResult. Inside a campaign
    // routine (a QueueChunkScope) the row is held back and written with others in chunks; otherwise at once.
    void AddToQueue(db::TDbConnection& connection, queue::TMesajGrubu group, const std::string& gsm,
                    const std::string& message, bool sendImmediately, TDateTime windowStart, TDateTime windowEnd,
                    int32_t smsCount);

    // A row of a campaign's record table ("this purchase/order was handled"), written in the same chunk as
    // the queue row of its message. Its failure is not caught: it ends the routine, as a failed record did
    // when each was written alone, and the rows gathered after it are dropped.
    struct TRecordRow {
        std::string table;
        std::string column;
        db::Value value;
        bool beforeMessage = false;  // written before its message's queue row when rows go one by one
    };
    // The record row alone (no message for it), or with the message that AddToQueue gathers next.
    void AddRecordRow(db::TDbConnection& connection, TRecordRow record);

    // Writes every gathered row now; a routine calls it before a write that depends on them. A failed
    // record row raises its error.
    void FlushQueue();

    // Gathers the rows AddToQueue is given while alive; the outermost scope writes what is left when it
    // ends, also when the routine fails.
    class QueueChunkScope {
    public:
        explicit QueueChunkScope(TSMSCheck& check);
        ~QueueChunkScope();
        QueueChunkScope(const QueueChunkScope&) = delete;
        QueueChunkScope& operator=(const QueueChunkScope&) = delete;
    private:
        TSMSCheck& check_;
    };

private:
    // One message's gathered writes: its queue row (absent for a record without message) and record row.
    struct TPendingWrite {
        std::vector<db::Value> queueRow;
        bool hasRecord = false;
        TRecordRow record;
    };
    // The values of one queue row, in the column order of QueueColumns().
    static std::vector<db::Value> QueueRowValues(queue::TMesajGrubu group, const std::string& gsm,
                                                 const std::string& message, bool sendImmediately,
                                                 TDateTime windowStart, TDateTime windowEnd, int32_t smsCount);
    // Writes one queue row alone through the facade; failures go to ExecutionResult.
    void InsertQueueRow(db::TDbConnection& connection, const std::vector<db::Value>& row);
    static void InsertRecordRow(db::TDbConnection& connection, const TRecordRow& record);
    void WritePendingChunk(size_t first, size_t last);
    // The record rows and queue rows of one chunk in one transaction: all of them, or none when the database
    // refuses any. True when written.
    static bool WriteChunkTogether(db::TDbConnection& connection, const TRecordRow& kind,
                                   const std::vector<std::vector<db::Value>>& records,
                                   const std::vector<std::vector<db::Value>>& rows);
    void PendOn(db::TDbConnection& connection);

    int chunkScopes_ = 0;
    db::TDbConnection* pendingConnection_ = nullptr;
    std::vector<TPendingWrite> pending_;
    bool recordWaiting_ = false;  // the last pending entry holds a record that waits for its message
    std::exception_ptr recordFailure_;  // a record row failed while AddToQueue wrote a chunk

    bool ConnectProgramDatabase();
    void ServeTenant(db::TDbConnection& tenant);
    void KeepTenantFailure(const std::string& message);
    // Runs step; whatever it throws is kept in ExecutionResult (its message; for an error without one,
    // "<failed> (<tenant>): bilinmeyen hata") and false is returned.
    bool KeepFailure(const std::string& tenant, const char* failed, const std::function<void()>& step);
    // Runs one campaign routine: a failure ends the routine, is kept in ExecutionResult and the run goes
    // on. The routine's queue rows are written in chunks, and on the way out also after a failure.
    void GuardCampaign(const db::TDbConnection& tenant, const char* failed, const std::function<void()>& routine);

    void QueueSpecialDayRows(db::TDbConnection& connection, queue::TMesajGrubu group, const std::string& query,
                             const std::string& templ, TDateTime timeOfDay);
    void QueuePurchaseMessages(db::TDbConnection& connection, const std::string& templ, int32_t minQuantity,
                               int32_t maxQuantity, TDateTime previousCheck, Currency minAmount, Currency maxAmount,
                               bool minutesAfter, int32_t minutes);
    void QueueInstalmentRows(db::TDbConnection& connection, const std::string& query, queue::TMesajGrubu group,
                             const std::string& templ, int32_t days, Currency minAmount, Currency maxAmount,
                             TDateTime timeOfDay);
    void QueueInstalmentReminders(db::TDbConnection& connection, const std::string& templ, int32_t days,
                                  Currency minAmount, Currency maxAmount, TDateTime timeOfDay);
    void QueueOverduePayments(db::TDbConnection& connection, const std::string& templ, int32_t days,
                              Currency minAmount, Currency maxAmount, TDateTime timeOfDay);
    void SendStoreSalesSummaries(db::TDbConnection& connection, bool netOnly);
    // An id read as text that a statement takes unquoted: returned when it is a whole number, else EConvertError.
    static std::string SqlWholeNumber(const std::string& text, const std::string& what);
};

} // namespace velmora::campaigns
