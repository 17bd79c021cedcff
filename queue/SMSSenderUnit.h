#pragma once
// Sending pending queue rows to the gateway and collecting their delivery reports.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "queue/SMSAyarlari.h"
#include "db/DbConnection.h"
#include "platform/DateTime.h"
#include "queue/SMSConstV2.h"
#include "queue/VerdictJournal.h"

namespace velmora::gateway {
class TSendSMS;
}

namespace velmora::queue {

// One message held in memory for SMSItemListesiGonder.
struct TSMSItem {
    int32_t Id = 0;
    TMesajGrubu MesajGrubu = TMesajGrubu::mgNone;
    std::string GSM;
    std::string Mesaj;
    TMesajDurumu Durum = TMesajDurumu::mdBeklemede;
    std::string RaporId;
    bool HemenGonder = false;
    TDateTime GondermeBaslangic = 0;
    TDateTime KayitTarihi = 0;
};
using TSMSItemList = std::vector<std::unique_ptr<TSMSItem>>;

class TSMSGonder {
public:
    TSMSGonder(db::TDbConnection& AConnection, const TSMSAyarlari& ASMSAyarlari)
        : FConnection(AConnection), FSMSAyarlari(ASMSAyarlari) {}

    db::TDbConnection& Connection() const { return FConnection; }
    const TSMSAyarlari& SMSAyarlari() const { return FSMSAyarlari; }
    void SetSMSAyarlari(const TSMSAyarlari& value) { FSMSAyarlari = value; }
    // The tenant's verdict journal: the answer is kept there from the moment it is read until every
    // verdict is in the table. Without one the verdicts go to the table alone.
    void SetJournal(const TVerdictJournal* journal) { FJournal = journal; }

    // Sends every pending row in one batch; true when there was nothing to send or the answer was applied.
    bool SMSGonder();
    // Inserts the caller's items into the queue and sends them at once.
    bool SMSItemListesiGonder(const TSMSItemList& ASMSItemList, bool AOneToMany, int& Toplam, int& Basarili,
                              int& Basarisiz);

private:
    // Logs in, posts the batch and records the answer's verdicts on the rows whose ids the batch holds;
    // false when the gateway did not take it.
    bool SendBatch(gateway::TSendSMS& request, int* total, int* accepted, int* refused);

    db::TDbConnection& FConnection;
    TSMSAyarlari FSMSAyarlari;
    const TVerdictJournal* FJournal = nullptr;
};

class TSMSRapor {
public:
    TSMSRapor(db::TDbConnection& AConnection, const TSMSAyarlari& ASMSAyarlari)
        : FConnection(AConnection), FSMSAyarlari(ASMSAyarlari) {}

    db::TDbConnection& Connection() const { return FConnection; }
    const TSMSAyarlari& SMSAyarlari() const { return FSMSAyarlari; }

    void SetJournal(const TVerdictJournal* journal) { FJournal = journal; }

    // Asks about every row at state 1 in one batch; true when there was nothing to ask or the answer was applied.
    bool RaporGetir();

private:
    db::TDbConnection& FConnection;
    TSMSAyarlari FSMSAyarlari;
    const TVerdictJournal* FJournal = nullptr;
};

// The Turkish description written to "aciklama" for a delivery status code (letter case ignored).
std::string DeliveryStatusText(const std::string& code);

// The text with everything XML 1.0 cannot carry left out: control characters other than tab, LF and CR,
// U+FFFE, U+FFFF, surrogates and bytes that are not UTF-8.
std::string SendableText(const std::string& text);

} // namespace velmora::queue
