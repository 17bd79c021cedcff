#pragma once
// TDS 7.4 encoding for the SQL Server simulator: packets, the tokens of an answer, and the decoding
// of login records, RPC calls and their typed parameter values.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/DbValue.h"

namespace velmora::sqlsim::tds {

// Packet types and status bits.
enum PacketType : uint8_t {
    kSqlBatch = 1,
    kRpc = 3,
    kTabularResult = 4,
    kAttention = 6,
    kLogin7 = 16,
    kPreLogin = 18,
};
constexpr uint8_t kStatusEndOfMessage = 0x01;
constexpr size_t kHeaderSize = 8;

// DONE status bits.
constexpr uint16_t kDoneFinal = 0x00;
constexpr uint16_t kDoneMore = 0x01;
constexpr uint16_t kDoneError = 0x02;
constexpr uint16_t kDoneCount = 0x10;
constexpr uint16_t kDoneAttention = 0x20;

// A request the client sent that does not follow the protocol; the connection is closed.
struct ProtocolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The column types the simulator answers with.
// VarChar columns carry their text in the collation's code page, 1254.
enum class ColumnType { Int, BigInt, Float, Numeric38, DateTime, VarChar, VarCharMax, NVarChar, NVarCharMax, VarBinary, VarBinaryMax };

struct Column {
    std::string name;
    ColumnType type = ColumnType::NVarChar;
};

// Builds the token stream of one answer.
class Writer {
public:
    void Byte(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void Raw(const std::string& bytes) { out_ += bytes; }
    void BVarChar(const std::string& utf8);   // 1-byte length in characters, UTF-16LE
    void UsVarChar(const std::string& utf8);  // 2-byte length in characters, UTF-16LE

    void EnvChange(uint8_t type, const std::string& newValue, const std::string& oldValue);
    void EnvChangeCollation(const std::string& collation);
    void Info(int number, int state, int severity, const std::string& message, const std::string& server);
    void Error(int number, int state, int severity, const std::string& message, const std::string& server);
    void LoginAck(const std::string& programName);
    void Done(uint8_t token, uint16_t status, uint16_t command, uint64_t rows);
    void ColMetadata(const std::vector<Column>& columns);
    void Row(const std::vector<Column>& columns, const std::vector<db::Value>& values);
    void ReturnStatus(int32_t status);
    void ReturnValue(uint16_t ordinal, const std::string& name, const Column& type, const db::Value& value);

    const std::string& Bytes() const { return out_; }
    size_t Size() const { return out_.size(); }
    void Clear() { out_.clear(); }

private:
    void Message(uint8_t token, int number, int state, int severity, const std::string& message, const std::string& server);
    void TypeInfo(const Column& c);
    void Cell(ColumnType type, const db::Value& v);
    std::string out_;
};

// The collation the server reports: Turkish_CI_AS (code page 1254).
std::string TurkishCollation();

// Splits an answer into packets of at most packetSize bytes.
std::string Packetize(uint8_t type, const std::string& payload, size_t packetSize);

// What the client's pre-login asked for; the answer never offers encryption.
std::string PreLoginAnswer();

struct Login {
    uint32_t tdsVersion = 0;
    uint32_t packetSize = 4096;
    std::string host, user, password, app, server, library, language, database;
};
Login ParseLogin7(const std::string& payload);

// One parameter of an RPC call.
struct Param {
    std::string name;
    bool output = false;
    std::string typeName;  // "int", "nvarchar(4000)", "datetime2(7)", ...
    db::Value value;
    uint8_t typeByte = 0;  // the wire type, kept to answer output parameters in kind
};

struct RpcCall {
    std::string name;  // "sp_executesql", ... (well-known ids are given their names)
    std::vector<Param> params;
};

// Reads the headers that open a batch or RPC request (TDS 7.2+) and returns the offset after them.
size_t SkipAllHeaders(const std::string& payload);
std::string BatchText(const std::string& payload);
// Several calls may come in one request, separated by batch flags.
std::vector<RpcCall> ParseRpc(const std::string& payload);

// Text conversions of the wire.
std::string FromUtf16le(const char* p, size_t bytes);
std::string ToUtf16le(const std::string& utf8);

} // namespace velmora::sqlsim::tds
