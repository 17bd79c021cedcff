#pragma once
// The walk over the tenant registry "tbNuvoVeriTabani" that both phases of a run make.
#include <functional>

#include "db/DbConnection.h"

namespace velmora::config {

// Visits every active row of the tenant registry "tbNuvoVeriTabani" in the order the server returns them,
// handing serve a fresh, closed tenant connection made from the row. The four columns are read before
// serve runs, so a registry without them fails the whole visit; serve keeps its own guard.
void VisitActiveTenants(db::TDbConnection& program, const std::function<void(db::TDbConnection& tenant)>& serve);

} // namespace velmora::config
