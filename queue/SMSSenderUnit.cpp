#include "queue/SMSSenderUnit.h"

#include <charconv>

#include "gateway/ZentaXmlInterface.h"
#include "platform/Clock.h"
#include "platform/Error.h"

namespace velmora::queue {

using db::TDbQuery;
using db::Value;

namespace {

// The gateway echoes our row ids as EIDs. An EID that is not a decimal integer names no row of ours;
// it is skipped like an unknown one, so that the rows answered after it still get their verdict and are
// not sent a second time by the next run.
bool ParseExternalId(const std::string& text, int64_t& id) {
    auto r = std::from_chars(text.data(), text.data() + text.size(), id);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
}

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

std::string FitToColumn(const std::string& text, size_t width) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        const size_t need = len == 4 ? 2 : 1;  // beyond the BMP: a surrogate pair
        if (units + need > width) return text.substr(0, i);
        units += need;
        i += len;
    }
    return text;
}

namespace {

// Collects the failures of single row updates so that one rejected update does not leave every later row
// of the batch unrecorded (and so sent or asked about again); the first failure is reported at the end.
class UpdateFailures {
public:
    void Add(const std::exception& e) {
        if (count_++ == 0) first_ = e.what();
    }
    void ThrowIfAny(const char* what) const {
        if (count_ == 0) return;
        throw EDatabaseError(std::string(what) + ": " + std::to_string(count_) + " row update(s) failed; first: " +
                             first_);
    }
private:
    int count_ = 0;
    std::string first_;
};

// Edits the current row with write and posts it. When the full update is rejected (for example a text
// longer than its column), the row is written once more with the essential columns alone, since those
// decide whether it is offered to the gateway again. Returns false when even that fails.
template <typename Full, typename Essential>
bool PostRowUpdate(TDbQuery& q, UpdateFailures& failures, Full full, Essential essential) {
    try {
        q.Edit();
        full();
        q.Post();
        return true;
    } catch (const std::exception& e) {
        q.Cancel();
        failures.Add(e);
        try {
            q.Edit();
            essential();
            q.Post();
            return true;
        } catch (const std::exception&) {
            q.Cancel();
            return false;
        }
    }
}

// Applies the send answer to the rows of q. Counts the rows updated, accepted and refused.
void ApplySendAnswer(TDbQuery& q, const gateway::TSendSMSResponse& answer, int* total, int* accepted, int* refused) {
    UpdateFailures failures;
    for (const auto& entry : answer.ResponseList()) {
        int64_t id = 0;
        if (!ParseExternalId(entry->ExternalId(), id)) continue;
        q.First();
        if (!q.Locate("id", Value::Integer(id))) continue;
        const bool isRefused = entry->MessageId() < 0;
        const int durum = isRefused ? Ord(TMesajDurumu::mdHata) : Ord(TMesajDurumu::mdGonderildi);
        auto essential = [&] {
            q.FieldByName("rapor_id").SetValue(entry->MessageId());
            q.FieldByName("durum").SetValue(durum);
        };
        auto full = [&] {
            q.FieldByName("rapor_id").SetValue(entry->MessageId());
            // A gateway text longer than the column would fail the update; it is cut to fit.
            q.FieldByName("aciklama").SetValue(FitToColumn(entry->ReturnValue(), kAciklamaWidth));
            q.FieldByName("durum").SetValue(durum);
        };
        if (!PostRowUpdate(q, failures, full, essential)) continue;
        if (total) ++*total;
        int* counter = isRefused ? refused : accepted;
        if (counter) ++*counter;
    }
    failures.ThrowIfAny("Applying the gateway's send answer");
}

} // namespace

bool TSMSGonder::SendBatch(TDbQuery& q, gateway::TSendSMS& request, int* total, int* accepted, int* refused) {
    if (request.TargetAddressList().empty()) return true;  // nothing to send: no login either
    gateway::TSendSMSResponse answer;
    if (!gateway::SendSMSWithLogin(FSMSAyarlari.KullaniciAdi, FSMSAyarlari.Parola, FSMSAyarlari.KanalKodu,
                                   FSMSAyarlari.Developer, request, answer) ||
        answer.ResponseCode() <= 0)
        return false;
    ApplySendAnswer(q, answer, total, accepted, refused);
    return true;
}

bool TSMSGonder::SMSGonder() {
    TDbQuery q(&FConnection);
    q.SetSQL("SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi");
    q.Open();
    const int count = q.RecordCount();

    gateway::TSendSMS request(false);
    request.TargetAddressList().reserve(count);
    for (int i = 0; i < count; ++i) {
        request.AddSMSItem(SendableText(q.FieldByName("gsm").AsString()), q.FieldByName("id").AsString(),
                           SendableText(q.FieldByName("mesaj").AsString()), "");
        q.Next();
    }
    return SendBatch(q, request, nullptr, nullptr, nullptr);
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

    return SendBatch(q, request, &Toplam, &Basarili, &Basarisiz);
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
    auto equalsNoCase = [](const std::string& a, const char* b) {
        size_t i = 0;
        for (; i < a.size() && b[i]; ++i) {
            char x = a[i], y = b[i];
            if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
            if (x != y) return false;
        }
        return i == a.size() && b[i] == '\0';
    };
    for (const Entry& e : kTable)
        if (equalsNoCase(code, e.code)) return e.text;
    return "Zenta kodu bilinmiyor: " + code;
}

bool TSMSRapor::RaporGetir() {
    TDbQuery q(&FConnection);
    q.SetSQL("SELECT id, rapor_id, gsm, durum, aciklama FROM tbNuvoListe WHERE durum = 1");
    q.Open();
    const int count = q.RecordCount();

    gateway::TGetReport request;
    request.ReportRequestList().reserve(count);
    for (int i = 0; i < count; ++i) {
        request.AddRequest(q.FieldByName("rapor_id").AsInteger(), q.FieldByName("id").AsString());
        q.Next();
    }
    gateway::TReportResponse answer;
    if (request.ReportRequestList().empty()) return true;

    if (!gateway::GetReportWithLogin(FSMSAyarlari.KullaniciAdi, FSMSAyarlari.Parola, FSMSAyarlari.Developer, request,
                                     answer) ||
        answer.ReportStatus() <= 0)
        return false;

    UpdateFailures failures;
    for (const auto& entry : answer.ReportResponseItemList()) {
        int64_t id = 0;
        if (!ParseExternalId(entry->ExternalId(), id)) continue;
        if (!q.Locate("id", Value::Integer(id))) continue;
        const std::string text = DeliveryStatusText(entry->Status());
        auto essential = [&] { q.FieldByName("durum").SetValue(Ord(TMesajDurumu::mdRaporAlindi)); };
        auto full = [&] {
            q.FieldByName("durum").SetValue(Ord(TMesajDurumu::mdRaporAlindi));
            q.FieldByName("aciklama").SetValue(FitToColumn(text, kAciklamaWidth));
        };
        PostRowUpdate(q, failures, full, essential);
    }
    failures.ThrowIfAny("Applying the gateway's report answer");
    return true;
}

} // namespace velmora::queue
