// Tenant-defined statements run at their scheduled minute, once a day; their rows become messages.
#include "campaigns/OzelSorguXML.h"
#include "campaigns/SMSCheck.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"

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

namespace {

// A new temporary file of that extension, made exclusively and owner-only: nobody else may have planted
// a file or a link under the name between its choice and our writing.
std::string CreateTempFile(const std::string& extension) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = MakeTempFileName(extension);
        if (platform::CreateExclusiveFile(name)) return name;
    }
    throw EFileError("A temporary file cannot be created in \"" + platform::TempDirectory() + "\"");
}

} // namespace

std::string LoadCustomQueryDefinition(TDbQuery& scheduleQuery) {
    TempFileGuard file(CreateTempFile(".xml"));
    scheduleQuery.FieldByName("xml").SaveToFile(file.Path());
    IXMLOzelSorguType definition = ReadCustomQueryFile(file.Path());
    std::string statement = definition->Sorgu();
    TXMLParametreTypeList& parameters = definition->Parametre();
    const size_t count = parameters.Count();
    for (size_t i = 0; i < count; ++i) {
        TXMLParametreType p = parameters.Item(i);
        statement = platform::ReplaceAllNoCase(statement, ":" + p.Adi(), p.Value());
    }
    return statement;
}

std::string FillTemplateFromRow(const std::string& templ, TDbQuery& row) {
    std::string text = templ;
    for (int c = 1; c <= row.FieldCount(); ++c) {
        db::TField& field = row.Fields(c);
        text = platform::ReplaceAllNoCase(text, "{{" + field.FieldName() + "}}", field.AsString());
    }
    return text;
}

namespace {

// Names the schedule row in a failure message: its id when the table has one, else its position.
std::string ScheduleRowLabel(TDbQuery& schedule, int position) {
    for (int c = 1; c <= schedule.FieldCount(); ++c)
        if (platform::EqualsNoCase(schedule.Fields(c).FieldName(), "id"))
            return "custom query id " + schedule.Fields(c).AsString();
    return "custom query row " + std::to_string(position);
}

// Runs one selected schedule row: its statement, one message per usable result row, then the stamp.
void RunScheduleRow(TSMSCheck& check, TDbConnection& connection, TDbQuery& schedule, TDbQuery& statement,
                    TDateTime now) {
    const std::string sql = LoadCustomQueryDefinition(schedule);
    if (platform::Trim(sql).empty()) throw EDatabaseError("the definition holds no statement in \"Sorgu\"");
    statement.SetSQL(sql);
    statement.Open();
    const int rows = statement.RecordCount();
    if (rows > 0) {
        const std::string phoneColumn = schedule.FieldByName("cep_telefonu_alani").AsString();
        bool found = false;
        for (int c = 1; c <= statement.FieldCount() && !found; ++c)
            found = platform::EqualsNoCase(statement.Fields(c).FieldName(), phoneColumn);
        if (!found)
            throw EDatabaseError("the result has no column \"" + phoneColumn +
                                 "\", which cep_telefonu_alani names as the phone number");
    }
    for (int r = 0; r < rows; ++r, statement.Next()) {
        std::string number = statement.FieldByName(schedule.FieldByName("cep_telefonu_alani").AsString()).AsString();
        if (!queue::NormalizePhoneNumber(number)) continue;
        const std::string text = FillTemplateFromRow(schedule.FieldByName("mesaj").AsString(), statement);
        const TDateTime start = platform::Now();
        check.AddToQueue(connection, queue::TMesajGrubu::mgMusteri, number, text, true, start, platform::Now(), 1);
    }
    statement.Close();
    check.FlushQueue();  // the stamp says the messages are queued: they are, before it is written
    schedule.Edit();
    schedule.FieldByName("son_gonderme_tarihi").SetDateTime(now);
    schedule.Post();
}

} // namespace

void TSMSCheck::CheckCustomQueries(TDbConnection& connection, TDateTime now) {
    QueueChunkScope chunks(*this);
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
        // The error still leaves this routine; it only learns which row failed, so the run log can say.
        try {
            RunScheduleRow(*this, connection, schedule, statement, now);
        } catch (...) {
            RethrowPrefixed<EXmlError, EFileError, EConvertError, EDatabaseError>(ScheduleRowLabel(schedule, i + 1) +
                                                                                  ": ");
        }
    }
}

} // namespace velmora::campaigns
