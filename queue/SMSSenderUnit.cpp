// Sending the pending rows in one batch and fetching delivery reports; their verdicts.
#include "queue/SMSSenderUnit.h"

#include <unordered_set>

#include "gateway/ZentaXmlInterface.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Memory.h"
#include "platform/Text.h"

namespace velmora::queue {

using db::TDbQuery;

namespace {

// The gateway echoes our row ids as EIDs. An EID that is not a decimal integer names no row of ours;
// it is skipped like an unknown one, so that the rows answered after it still get their verdict and are
// not sent a second time by the next run.
bool ParseExternalId(const std::string& text, int64_t& id) { return platform::ParseWhole(text, id); }

// Length of the UTF-8 sequence starting at s[i] when it is well formed and names a character XML 1.0
// can carry (tab, LF, CR, U+0020..U+D7FF, U+E000..U+FFFD, U+10000..U+10FFFF); 0 otherwise.
size_t XmlCharLength(const std::string& s, size_t i) {
    const unsigned char b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return (b0 >= 0x20 || b0 == '\t' || b0 == '\n' || b0 == '\r') ? 1 : 0;
    size_t len = 0;
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2, cp = b0 & 0x1F;
    else if (b0 >= 0xE0 && b0 <= 0xEF) len = 3, cp = b0 & 0x0F;
    else if (b0 >= 0xF0 && b0 <= 0xF4) len = 4, cp = b0 & 0x07;
    else return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    const bool shortest = (len == 3 && cp >= 0x800) || (len == 4 && cp >= 0x10000) || len == 2;
    if (!shortest || cp > 0x10FFFF) return 0;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return len;
}

} // namespace

// XML 1.0 cannot carry most control characters, U+FFFE, U+FFFF or broken UTF-8, not even as references;
// a stored text holding one would make the gateway refuse the whole batch in every run from then on.
// They are left out of what is sent.
std::string SendableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t len = XmlCharLength(text, i);
        if (len == 0) {
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

namespace {

// The ids of the rows a batch holds: answer entries naming any other id are skipped.
std::unordered_set<int64_t> BatchIds(const gateway::TTargetSMSList& targets) {
    std::unordered_set<int64_t> ids;
    ids.reserve(targets.size());
    for (const auto& t : targets) {
        int64_t id = 0;
        if (ParseExternalId(t->ExternalId(), id)) ids.insert(id);
    }
    return ids;
}

// Before a batch goes out, the queue table must take its verdicts: otherwise every row sent now would be
// sent again by every later run.
// what: what was not done, for the log ("gönderim yapılmadı").
void RequireWritableQueue(db::TDbConnection& connection, int64_t id, const char* what) {
    try {
        ProveVerdictsWritable(connection, id);
    } catch (const std::exception& e) {
        throw EVerdictsUnwritable(std::string(what) + ", kararlar veri tabanına yazılamıyor: " + e.what());
    }
}

} // namespace

bool TSMSGonder::SendBatch(gateway::TSendSMS& request, int* total, int* accepted, int* refused) {
    if (request.TargetAddressList().empty()) return true;  // nothing to send: no login either
    gateway::TSendSMSResponse answer;
    const bool answered = gateway::SendSMSWithLogin(FSMSAyarlari.KullaniciAdi, FSMSAyarlari.Parola,
                                                    FSMSAyarlari.KanalKodu, FSMSAyarlari.Developer, request, answer);
    // The batch is out: of its recipients only their ids are needed while the verdicts are written (taken
    // only now, so they are not held beside the batch on its way).
    std::unordered_set<int64_t> ids = BatchIds(request.TargetAddressList());
    gateway::TTargetSMSList().swap(request.TargetAddressList());
    if (!answered || answer.ResponseCode() <= 0) return false;

    TVerdictCollector verdicts(TVerdictKind::Send);
    struct Counted { size_t item; bool refused; };
    std::vector<Counted> entries;  // every entry naming a row of the batch, repeats included
    entries.reserve(answer.ResponseList().size());
    for (const auto& entry : answer.ResponseList()) {
        int64_t id = 0;
        if (!ParseExternalId(entry->ExternalId(), id) || !ids.count(id)) continue;
        const bool isRefused = entry->MessageId() < 0;
        TVerdict v;
        v.Id = id;
        v.Durum = isRefused ? Ord(TMesajDurumu::mdHata) : Ord(TMesajDurumu::mdGonderildi);
        v.RaporId = entry->MessageId();
        v.Aciklama = FitAciklama(entry->ReturnValue());
        entries.push_back({verdicts.Add(std::move(v)), isRefused});
    }
    gateway::TSendSMSResponseList().swap(answer.ResponseList());  // in the verdicts now
    std::unordered_set<int64_t>().swap(ids);
    platform::ReturnFreedMemory();
    const TRecording recording = RecordVerdicts(FConnection, verdicts.Batch(), FJournal);
    for (const Counted& e : entries) {
        if (!recording.Outcome.Applied[e.item]) continue;
        if (total) ++*total;
        int* counter = e.refused ? refused : accepted;
        if (counter) ++*counter;
    }
    RaiseRecordingFailures(recording, "Ağ geçidinin gönderim yanıtı yazılırken");
    return true;
}

bool TSMSGonder::SMSGonder() {
    TDbQuery q(&FConnection);
    q.SetSQL("SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi");
    q.Open();
    const int count = q.RecordCount();

    gateway::TSendSMS request(false);
    request.TargetAddressList().reserve(count);
    int64_t firstId = 0;
    for (int i = 0; i < count; ++i) {
        const std::string id = q.FieldByName("id").AsString();
        if (i == 0 && !ParseExternalId(id, firstId)) firstId = 0;
        request.AddSMSItem(SendableText(q.FieldByName("gsm").AsString()), id,
                           SendableText(q.FieldByName("mesaj").AsString()), "");
        q.Next();
    }
    q.Close();  // the rows are in the request; the result is not needed for the verdicts
    platform::ReturnFreedMemory();  // the batch and its envelope are not stacked on the rows' memory
    if (count > 0) RequireWritableQueue(FConnection, firstId, "gönderim yapılmadı");
    return SendBatch(request, nullptr, nullptr, nullptr);
}

bool TSMSGonder::SMSItemListesiGonder(const TSMSItemList& ASMSItemList, bool AOneToMany, int& Toplam, int& Basarili,
                                      int& Basarisiz) {
    Toplam = 0;
    Basarili = 0;
    Basarisiz = 0;

    TDbQuery q(&FConnection);
    q.SetSQL("SELECT * FROM tbNuvoListe WHERE id = :id");
    q.ParamByName("id").SetValue(-1);
    q.Open();

    gateway::TSendSMS request(AOneToMany);
    // A one-to-many batch carries its one text at the request level; the items share it.
    if (AOneToMany && !ASMSItemList.empty()) request.SetMessageText(SendableText(ASMSItemList.front()->Mesaj));
    for (const auto& item : ASMSItemList) {
        q.Append();
        q.FieldByName("mesaj_grubu").SetValue(Ord(item->MesajGrubu));
        q.FieldByName("gsm").SetValue(item->GSM);
        q.FieldByName("mesaj").SetValue(item->Mesaj);
        q.FieldByName("durum").SetValue(Ord(TMesajDurumu::mdBeklemede));
        q.FieldByName("rapor_id").Clear();
        q.FieldByName("aciklama").Clear();
        if (item->HemenGonder) {
            q.FieldByName("hemen_gonder").SetValue(1);
            q.FieldByName("gonderme_baslangic").Clear();
        } else {
            q.FieldByName("hemen_gonder").SetValue(0);
            q.FieldByName("gonderme_baslangic").SetDateTime(item->GondermeBaslangic);
        }
        q.FieldByName("kayit_tarihi").SetDateTime(item->KayitTarihi);
        q.FieldByName("gonderme_tarihi").SetDateTime(platform::Now());
        q.Post();
        if (!item->HemenGonder) request.SetPlannedSendingDate(item->GondermeBaslangic);
        request.AddSMSItem(SendableText(item->GSM), q.FieldByName("id").AsString(), SendableText(item->Mesaj), "");
    }

    q.Close();
    return SendBatch(request, &Toplam, &Basarili, &Basarisiz);
}

std::string DeliveryStatusText(const std::string& code) {
    struct Entry {
        const char* code;
        const char* text;
    };
    static const Entry kTable[] = {
        {"QUE", "Gönderim kuyruğunda bekliyor."},
        {"RQU", "Tekrar denenmek için gönderim kuyruğunda bekliyor."},
        {"SNT", "Gönderilmiş."},
        {"PND", "Henüz raporu oluşmadı."},
        {"OPN", "İletildi."},
        {"FLD", "Gönderimde hata alındı."},
        {"FLX", "Operatörden hata alındı."},
        {"HBN", "Kalıcı bir hatadan dolayı gönderilemedi (örneğin geçersiz cep telefonu numarası)."},
        {"SBN", "Geçici bir sebepten dolayı ulaştırılamamış mesaj (örneğin dolu mesaj kutusu)."},
        {"EXP", " Sistem kaynaklı sebeplerden zaman aşımına uğradı."},
        {"SXP", "Zaman aşımına uğradı."},
        {"BLK", " Kullanıcı tarafından yasaklanmış alan adı filtresine takıldı."},
        {"NOR", "Gönderim raporu istenmedi."},
        {"ABN", "Bouncer tarafından belirlenen BadMail"},
        {"EBN", "Kullanıcı tarafından belirlenen BadMail"},
        {"DUP", "Yinelenen gönderim adresi filtresine takıldı."},
        {"UKN", "Uzun zamandır bilgi alınmadığı için rapor durumu bilinmiyor."},
        {"JNK", "Önemsiz e-posta mesajı"},
    };
    for (const Entry& e : kTable)
        if (platform::EqualsNoCase(code, e.code)) return e.text;
    return "Zenta kodu bilinmiyor: " + code;
}

bool TSMSRapor::RaporGetir() {
    TDbQuery q(&FConnection);
    q.SetSQL("SELECT id, rapor_id, gsm, durum, aciklama FROM tbNuvoListe WHERE durum = 1");
    q.Open();
    const int count = q.RecordCount();

    gateway::TGetReport request;
    request.ReportRequestList().reserve(count);
    int64_t firstId = 0;
    bool haveFirst = false;
    for (int i = 0; i < count; ++i) {
        const std::string eid = q.FieldByName("id").AsString();
        int64_t id = 0;
        if (!haveFirst && ParseExternalId(eid, id)) {
            firstId = id;
            haveFirst = true;
        }
        request.AddRequest(q.FieldByName("rapor_id").AsInteger(), eid);
        q.Next();
    }
    q.Close();
    platform::ReturnFreedMemory();
    gateway::TReportResponse answer;
    if (request.ReportRequestList().empty()) return true;
    RequireWritableQueue(FConnection, firstId, "rapor istenmedi");

    const bool answered = gateway::GetReportWithLogin(FSMSAyarlari.KullaniciAdi, FSMSAyarlari.Parola,
                                                      FSMSAyarlari.Developer, request, answer);
    // The question is out: of its list only the ids are needed while the answer is applied.
    std::unordered_set<int64_t> ids;
    ids.reserve(request.ReportRequestList().size());
    for (const auto& asked : request.ReportRequestList()) {
        int64_t id = 0;
        if (ParseExternalId(asked->ExternalId(), id)) ids.insert(id);
    }
    gateway::TReportRequestList().swap(request.ReportRequestList());
    if (!answered || answer.ReportStatus() <= 0) return false;

    TVerdictCollector verdicts(TVerdictKind::Report);
    for (const auto& entry : answer.ReportResponseItemList()) {
        int64_t id = 0;
        if (!ParseExternalId(entry->ExternalId(), id) || !ids.count(id)) continue;
        TVerdict v;
        v.Id = id;
        v.Durum = Ord(TMesajDurumu::mdRaporAlindi);
        v.Aciklama = FitAciklama(DeliveryStatusText(entry->Status()));
        verdicts.Add(std::move(v));
    }
    gateway::TReportResponseItemList().swap(answer.ReportResponseItemList());  // in the verdicts now
    std::unordered_set<int64_t>().swap(ids);
    platform::ReturnFreedMemory();
    RaiseRecordingFailures(RecordVerdicts(FConnection, verdicts.Batch(), FJournal), "Ağ geçidinin rapor yanıtı yazılırken");
    return true;
}

} // namespace velmora::queue
