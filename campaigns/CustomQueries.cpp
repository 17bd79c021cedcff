// Tenant-defined statements run at their scheduled minute, once a day; their rows become messages.
#include "campaigns/OzelSorguXML.h"
#include "campaigns/SMSCheck.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;

namespace {

const char* kScheduleQuery =
    "SELECT * FROM tbNuvoSorguListesi WHERE tbNuvoSorguListesi.otomatik_calistir = 1 AND "
    "((DATEPART(HOUR, tbNuvoSorguListesi.saat) = :saat AND DATEPART(MINUTE, tbNuvoSorguListesi.saat) = :dakika)) AND "
    "(DateAdd(day, datediff(day,0, tbNuvoSorguListesi.son_gonderme_tarihi), 0) <> DateAdd(day, datediff(day,0, "
    "GETDATE()), 0) )";

// Deletes the file when the scope ends, whichever way it ends.
class TempFileGuard {
public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    ~TempFileGuard() { platform::DeleteFileIfExists(path_); }
    const std::string& Path() const { return path_; }
private:
    std::string path_;
};

} // namespace

std::string MakeTempFileName(const std::string& extension) {
    const std::string unique = platform::CreateUniqueTempFile("tmp");
    // The name stays unique with the new extension; the placeholder the system made is not left behind.
    platform::DeleteFileIfExists(unique);
    const size_t slash = unique.find_last_of("/\\");
    const size_t dot = unique.find_last_of('.');
    std::string name = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                           ? unique.substr(0, dot) + extension
                           : unique + extension;
    platform::DeleteFileIfExists(name);
    return name;
}

std::string LoadCustomQueryDefinition(TDbQuery& scheduleQuery) {
    TempFileGuard file(MakeTempFileName(".xml"));
    scheduleQuery.FieldByName("xml").SaveToFile(file.Path());
    IXMLOzelSorguType definition = ReadCustomQueryFile(file.Path());
    std::string statement = definition->Sorgu();
    TXMLParametreTypeList& parameters = definition->Parametre();
    const size_t count = parameters.Count();
    for (size_t i = 0; i < count; ++i) {
        TXMLParametreType p = parameters.Item(i);
        statement = queue::ReplaceAllNoCase(statement, ":" + p.Adi(), p.Value());
    }
    return statement;
}

std::string FillTemplateFromRow(const std::string& templ, TDbQuery& row) {
    std::string text = templ;
    for (int c = 1; c <= row.FieldCount(); ++c) {
        db::TField& field = row.Fields(c);
        text = queue::ReplaceAllNoCase(text, "{{" + field.FieldName() + "}}", field.AsString());
    }
    return text;
}

void TSMSCheck::CheckCustomQueries(TDbConnection& connection, TDateTime now) {
    const DateTimeParts parts = DecodeDateTime(now);
    TDbQuery schedule(&connection);
    schedule.SetSQL(kScheduleQuery);
    schedule.ParamByName("saat").SetValue(parts.hour);
    schedule.ParamByName("dakika").SetValue(parts.minute);
    schedule.Open();
    const int count = schedule.RecordCount();
    if (count == 0) return;

    TDbQuery statement(&connection);
    for (int i = 0; i < count; ++i, schedule.Next()) {
        statement.SetSQL(LoadCustomQueryDefinition(schedule));
        statement.Open();
        const int rows = statement.RecordCount();
        for (int r = 0; r < rows; ++r, statement.Next()) {
            const std::string phoneColumn = schedule.FieldByName("cep_telefonu_alani").AsString();
            std::string number = statement.FieldByName(phoneColumn).AsString();
            if (!queue::NormalizePhoneNumber(number)) continue;
            const std::string text = FillTemplateFromRow(schedule.FieldByName("mesaj").AsString(), statement);
            const TDateTime start = platform::Now();
            AddToQueue(connection, queue::TMesajGrubu::mgMusteri, number, text, true, start, platform::Now(), 1);
        }
        statement.Close();
        schedule.Edit();
        schedule.FieldByName("son_gonderme_tarihi").SetDateTime(now);
        schedule.Post();
    }
}

} // namespace velmora::campaigns
