// The verdict journal file: its name, its text form, durable saving and reading back.
#include "queue/VerdictJournal.h"

#include <cstdio>

#include "platform/CrashPoint.h"
#include "platform/DurableFile.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace velmora::queue {

namespace {

constexpr const char* kHeader = "VELMORA KARAR GUNLUGU 1";

void AppendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default: return false;
        }
    }
    return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return parts;
        start = tab + 1;
    }
}

// FNV-1a: a stable short name for a tenant's identity, the same on every platform and every run.
std::string Fingerprint(const std::string& text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

} // namespace

TVerdictJournal::TVerdictJournal(std::string folder, std::string identity, const std::string& databaseName)
    : identity_(std::move(identity)) {
    // The database name makes the folder readable to an operator; the fingerprint makes the name unique.
    std::string readable;
    for (char c : databaseName) {
        if (readable.size() >= 40) break;
        const bool plain = platform::IsAsciiLetterOrDigit(c) || c == '-' || c == '_';
        readable += plain ? c : '_';
    }
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += platform::PathSeparator();
    path_ = folder + readable + "-" + Fingerprint(identity_) + ".kararlar";
}

bool TVerdictJournal::Exists() const { return platform::FileExists(path_); }

void TVerdictJournal::Save(const TVerdictBatch& batch) const { platform::WriteFileDurably(path_, Encode(identity_, batch)); }

TVerdictBatch TVerdictJournal::Load() const { return Decode(identity_, platform::ReadWholeFile(path_)); }

void TVerdictJournal::Remove() const {
    platform::DeleteFileIfExists(path_);
    if (platform::FileExists(path_)) throw EFileError("The file \"" + path_ + "\" cannot be removed");
}

std::string TVerdictJournal::Encode(const std::string& identity, const TVerdictBatch& batch) {
    std::string out;
    out.reserve(batch.Items.size() * 48 + 256);
    out += kHeader;
    out += "\nveritabani\t";
    AppendEscaped(out, identity);
    out += batch.Kind == TVerdictKind::Send ? "\ntur\tgonderim\n" : "\ntur\trapor\n";
    for (const TVerdict& v : batch.Items) {
        out += std::to_string(v.Id);
        out += '\t';
        out += std::to_string(v.Durum);
        out += '\t';
        out += std::to_string(v.RaporId);
        out += '\t';
        AppendEscaped(out, v.Aciklama);
        out += '\n';
    }
    out += "son\t" + std::to_string(batch.Items.size()) + "\n";
    return out;
}

TVerdictBatch TVerdictJournal::Decode(const std::string& identity, const std::string& text) {
    auto bad = [](const std::string& why) -> EFileError {
        return EFileError("The verdict journal cannot be read: " + why);
    };
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) throw bad("its last line is incomplete");
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines.size() < 4 || lines[0] != kHeader) throw bad("it does not begin with its header");
    std::string owner;
    std::vector<std::string> head = SplitTabs(lines[1]);
    if (head.size() != 2 || head[0] != "veritabani" || !Unescape(head[1], owner)) throw bad("no database line");
    if (owner != identity) throw bad("it belongs to another database (" + owner + ")");
    TVerdictBatch batch;
    if (lines[2] == "tur\tgonderim") batch.Kind = TVerdictKind::Send;
    else if (lines[2] == "tur\trapor") batch.Kind = TVerdictKind::Report;
    else throw bad("unknown kind line");
    for (size_t i = 3; i + 1 < lines.size(); ++i) {
        std::vector<std::string> f = SplitTabs(lines[i]);
        TVerdict v;
        int64_t durum = 0;
        if (f.size() != 4 || !platform::ParseWhole(f[0], v.Id) || !platform::ParseWhole(f[1], durum) || !platform::ParseWhole(f[2], v.RaporId) ||
            !Unescape(f[3], v.Aciklama) || durum < 0 || durum > 3)
            throw bad("line " + std::to_string(i + 1) + " is malformed");
        v.Durum = static_cast<int>(durum);
        batch.Items.push_back(std::move(v));
    }
    int64_t count = -1;
    std::vector<std::string> tail = SplitTabs(lines.back());
    if (tail.size() != 2 || tail[0] != "son" || !platform::ParseWhole(tail[1], count) ||
        count != static_cast<int64_t>(batch.Items.size()))
        throw bad("it is incomplete");
    return batch;
}

TRecording RecordVerdicts(db::TDbConnection& connection, const TVerdictBatch& batch, const TVerdictJournal* journal) {
    TRecording r;
    const bool send = batch.Kind == TVerdictKind::Send;
    if (journal && !batch.Items.empty()) {
        try {
            journal->Save(batch);
            r.Journaled = true;
        } catch (const std::exception& e) {
            // The answer is in hand and the rows are already at the gateway: write them all the same.
            r.JournalError = e.what();
        }
    }
    platform::CrashPoint(send ? "gonderim-yaniti-alindi" : "rapor-yaniti-alindi");
    bool halfway = false;
    r.Outcome = ApplyVerdicts(connection, batch, [&](size_t done) {
        if (!halfway && done * 2 >= batch.Items.size() && done < batch.Items.size()) {
            halfway = true;
            platform::CrashPoint(send ? "kararlar-yarida" : "raporlar-yarida");
        }
    });
    if (r.Journaled && !r.Outcome.Stopped) {
        // Rows the database refused one by one would be refused again: they are not kept for later.
        try {
            journal->Remove();
        } catch (const std::exception& e) {
            r.JournalError = e.what();
        }
    }
    return r;
}

void RaiseRecordingFailures(const TRecording& r, const std::string& what) {
    const TApplyOutcome& o = r.Outcome;
    if (o.Stopped) {
        const size_t left = o.Applied.size() - o.AppliedCount();
        throw EVerdictsUnwritable(
            std::to_string(o.Applied.size()) + " karardan " + std::to_string(left) + " tanesi veri tabanına yazılamadı" +
            (r.Journaled ? "; karar günlüğünde bekliyor, sonraki çalışmada ilk iş yazılacak"
                         : r.JournalError.empty() ? "; karar günlüğü kullanılmadığı için yeniden gönderilebilir"
                                                  : "; karar günlüğüne de yazılamadı (" + r.JournalError + ")") +
            ": " + o.FirstError);
    }
    const size_t failed = o.StateOnly + o.Refused;
    if (failed > 0)
        throw EDatabaseError(what + ": " + std::to_string(failed) + " satırın güncellemesi yapılamadı; ilki: " + o.FirstError);
    if (!r.JournalError.empty())
        throw EJournalUnavailable("kararlar yazıldı, ancak karar günlüğü kullanılamadı: " + r.JournalError);
}

} // namespace velmora::queue
