#pragma once
// The verdict journal: a tenant's last gateway answer kept on disk, outside the tenant database, from
// the moment it was read until every verdict of it is in the queue table. A run that finds one applies
// it before anything of that tenant is sent, so a crash or an unwritable database never makes the next
// run send accepted rows again.
#include <string>

#include "queue/VerdictWriter.h"

namespace velmora::queue {

class TVerdictJournal {
public:
    // folder: the program's journal folder; identity: what names the tenant database (its server text and
    // database name), kept in the file and checked on reading.
    TVerdictJournal(std::string folder, std::string identity, const std::string& databaseName);

    const std::string& Path() const { return path_; }
    bool Exists() const;
    // Writes the batch durably (flushed to the disk, atomically renamed); throws EFileError on failure.
    void Save(const TVerdictBatch& batch) const;
    // Reads the batch back; throws EFileError when the file is unreadable, incomplete or of another tenant.
    TVerdictBatch Load() const;
    // Removes the file; throws EFileError when it stays.
    void Remove() const;

    // The file's whole text for a batch, and the batch back from it (exposed for tests).
    static std::string Encode(const std::string& identity, const TVerdictBatch& batch);
    static TVerdictBatch Decode(const std::string& identity, const std::string& text);

private:
    std::string identity_;
    std::string path_;
};

// What became of one answer's verdicts.
struct TRecording {
    TApplyOutcome Outcome;
    bool Journaled = false;    // the batch was in the journal before the first verdict was written
    std::string JournalError;  // why the journal could not be written or removed, empty when it could
};

// Keeps the batch in the journal (when one is given), writes it to the queue table and removes the
// journal once every verdict is written. When the table cannot be written the journal stays for the
// next run. Throws nothing of its own; RaiseRecordingFailures tells what went wrong.
TRecording RecordVerdicts(db::TDbConnection& connection, const TVerdictBatch& batch, const TVerdictJournal* journal);

// Throws for what went wrong, the worst first: EVerdictsUnwritable when the table could not be written
// (saying whether the journal keeps the rest), EDatabaseError when single rows refused their update
// (what names the answer), EJournalUnavailable when only the journal failed.
void RaiseRecordingFailures(const TRecording& recording, const std::string& what);

} // namespace velmora::queue
