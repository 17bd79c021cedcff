#pragma once
// The lock in each tenant database that lets one run at a time serve its sending and reports.
#include <string>

namespace velmora::db {

// SQL Server: an exclusive application lock owned by the session, so a killed run's lock goes with its
// session. The result "sonuc" is 0 or 1 when granted, negative when another session holds it.
constexpr const char* kAcquireSendReportLockSql =
    "DECLARE @r int; EXEC @r = sp_getapplock @Resource = N'VelmoraSendReport', @LockMode = 'Exclusive', "
    "@LockOwner = 'Session', @LockTimeout = 0; SELECT @r AS sonuc";
constexpr const char* kReleaseSendReportLockSql =
    "EXEC sp_releaseapplock @Resource = N'VelmoraSendReport', @LockOwner = 'Session'";

// Embedded databases: an operating-system lock on this file beside the database file.
inline std::string SendReportLockFile(const std::string& databasePath) { return databasePath + ".velmora-lock"; }

} // namespace velmora::db
