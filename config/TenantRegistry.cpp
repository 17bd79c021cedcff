// The walk over the active rows of the tenant registry.
#include "config/TenantRegistry.h"

namespace velmora::config {

using db::TDbConnection;
using db::TDbQuery;

void VisitActiveTenants(TDbConnection& program, const std::function<void(TDbConnection& tenant)>& serve) {
    TDbQuery registry(&program);
    registry.SetSQL("SELECT * FROM tbNuvoVeriTabani WHERE aktif <> 0");
    registry.Open();
    const int count = registry.RecordCount();
    for (int i = 0; i < count; ++i) {
        TDbConnection tenant;
        tenant.Options = program.Options;  // the settings file's time-outs and driver hold for tenants too
        tenant.ProviderName = "SQL Server";
        tenant.Server = registry.FieldByName("sunucu").AsString();
        tenant.Username = registry.FieldByName("kullanici_adi").AsString();
        tenant.Password = registry.FieldByName("parola").AsString();
        tenant.Database = registry.FieldByName("veritabani").AsString();
        serve(tenant);
        registry.Next();
    }
    registry.Close();
}

} // namespace velmora::config
