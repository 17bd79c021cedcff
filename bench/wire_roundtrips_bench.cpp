// Round trips to SQL Server per row: one tenant's 1,000 rows queued, sent and reported over the
// SQL Server simulator (TDS through the FreeTDS driver), counting the requests the server receives.
//   wire_roundtrips_bench [rows] [delay-ms]   (a delay stands for the LAN round trip of each request)
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "campaigns/SMSCheck.h"
#include "queue/SMSAyarlari.h"
#include "db/DbConnection.h"
#include "gateway/ZentaApiService.h"
#include "platform/DateTime.h"
#include "platform/Paths.h"
#include "queue/SMSSenderUnit.h"
#include "tools/gatewaysim/GatewaySimulator.h"
#include "tools/sqlserversim/SqlServerSimulator.h"

using namespace velmora;

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string dir = (std::filesystem::temp_directory_path() / ("velmora-wire-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/Magaza.db";
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    bench::Exec(raw, platform::ReadWholeFile(VELMORA_SOURCE_DIR "/tools/schema/tenant.sqlite.sql"));
    sqlite3_close(raw);

    sqlsim::SqlServerSimulator server;
    server.AddDatabase("Magaza", path);
    server.AddLogin("sa", "gizli");
    server.Start();
    sim::GatewaySimulator gateway;
    gateway.AddAccount("demo", "secret");
    gateway.Start();
    gateway::GatewayBinding binding;
    binding.host = gateway.Host();
    gateway::RegisterGatewayBinding(binding);
    queue::TSMSAyarlari account;
    account.KullaniciAdi = "demo";
    account.Parola = "secret";
    account.KanalKodu = "KANAL1";
    account.Developer = "JOB1";

    db::TDbConnection tenant;
    tenant.ProviderName = "SQL Server";
    tenant.Server = server.ServerText();
    tenant.Database = "Magaza";
    tenant.Username = "sa";
    tenant.Password = "gizli";
    tenant.SetConnected(true);
    tenant.ExecSQL("SET DATEFORMAT dmy");
    server.SetRequestDelayMilliseconds(delayMs);

    std::printf("%d rows, %d ms per request\n", rows, delayMs);
    auto phase = [&](const char* name, auto&& work) {
        server.ClearRequests();
        bench::Stopwatch watch;
        work();
        const double seconds = watch.Seconds();
        const uint64_t requests = server.RequestCount();
        std::printf("%-10s %8llu requests  %6.2f per row  %8.3f s\n", name, static_cast<unsigned long long>(requests),
                    static_cast<double>(requests) / rows, seconds);
    };
    phase("queued", [&] {
        campaigns::TSMSCheck check;
        for (int i = 0; i < rows; ++i)
            check.AddToQueue(tenant, queue::TMesajGrubu::mgDogumGunu, "0532" + std::to_string(1000000 + i),
                             "Sevgili müşterimiz, doğum gününüz kutlu olsun! #" + std::to_string(i), true, 0, 0, 1);
        if (!check.ExecutionResult.empty()) std::fprintf(stderr, "queueing: %s\n", check.ExecutionResult.c_str());
    });
    phase("sent", [&] {
        queue::TSMSGonder sender(tenant, account);
        sender.SMSGonder();
    });
    phase("reported", [&] {
        queue::TSMSRapor reports(tenant, account);
        reports.RaporGetir();
    });
    tenant.SetConnected(false);
    server.Stop();
    gateway.Stop();
    std::filesystem::remove_all(dir);
    return 0;
}
