// One run: the run lock, the two phases in their guards, and the run log.
#include "driver/Velmora.h"

#include <exception>
#include <memory>

#include "campaigns/SMSCheck.h"
#include "config/AyarlarXML.h"
#include "config/SenderManager.h"
#include "driver/RunLog.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/SingleInstance.h"

namespace velmora::driver {

namespace {

std::string CurrentErrorText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "bilinmeyen hata";
    }
}

} // namespace

int RunVelmora() {
    platform::ComScope com;

    // A scheduler may start a run while the previous one still works; two runs would send the same
    // pending rows twice. The second start does nothing at all and leaves the first run's log alone.
    platform::RunLock::Attempt lock = platform::RunLock::Acquire();
    if (lock.heldElsewhere) return 0;
    if (!lock.lock) {
        // A lock that cannot be had is no proof that no other run works: nothing is done, and that is said.
        TRunLog log;
        log.Add("Çalışma kilidi açılamadı (" + lock.path + "): " + lock.error + "; bu çalışmada hiçbir işlem yapılmadı");
        try {
            log.WriteTo(LogFilePath());
        } catch (...) {
        }
        return kLockFailedStatus;
    }

    gateway::RegisterGatewayBinding(config::GatewayBindingFromSettings(config::SettingsFilePath()));

    TRunLog log;
    const DateTimeParts today = DecodeDateTime(platform::Today());
    if (today.month == 1 && today.day == 1) {
        log.Add("Yılın ilk günü olduğu için işlem iptal edildi");
    } else {
        try {
            campaigns::TSMSCheck check;
            log.Add(check.Execute());
        } catch (...) {
            log.Add(CurrentErrorText());
        }
        try {
            config::TVelmora velmora;
            velmora.JournalFolder = JournalFolderPath();
            try {
                velmora.Execute();
            } catch (...) {
                for (const std::string& failure : velmora.Failures) log.Add(failure);
                throw;
            }
            for (const std::string& failure : velmora.Failures) log.Add(failure);
        } catch (...) {
            log.Add(CurrentErrorText());
        }
    }

    if (!log.Lines().empty()) {
        try {
            log.WriteTo(LogFilePath());
        } catch (...) {
            // Nowhere else to report it: the run's lines are lost, the exit status stays 0.
        }
    }
    return 0;
}

} // namespace velmora::driver
