// Chooses the backend of a session from its server text.
#include "db/DbBackend.h"

namespace velmora::db {

std::unique_ptr<IDbBackend> OpenBackend(const ConnectParams& params, const ConnectionOptions& options) {
    // "sqlite:<path>" selects the embedded database; every other server text names a SQL Server instance.
    static const std::string kSqlitePrefix = "sqlite:";
    if (params.server.compare(0, kSqlitePrefix.size(), kSqlitePrefix) == 0)
        return OpenSqliteBackend(params.server.substr(kSqlitePrefix.size()), options);
    return OpenSqlServerBackend(params, options);
}

} // namespace velmora::db
