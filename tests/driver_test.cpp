// The run driver: the 1 January guard, the two phases, the run log file and the single-run lock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "driver/RunLog.h"
#include "driver/Velmora.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "tests/TestSupport.h"

using namespace velmora;

namespace {

const std::string kNewYearLine = "Yılın ilk günü olduğu için işlem iptal edildi";

TEST(RunLog, LinesEndInCrLfAndUseTheAnsiCodePage) {
    driver::TRunLog log;
    log.Add("ı ğ ş");
    log.Add("");
    log.Add("iki\nsatır");  // an entry is never split
    EXPECT_EQ(log.FileBytes(), "\xFD \xF0 \xFE\r\n\r\niki\nsat\xFDr\r\n");
    EXPECT_EQ(platform::Utf8ToAnsi("İĞÜŞÖÇ üç €"), "\xDD\xD0\xDC\xDE\xD6\xC7 \xFC\xE7 \x80");
    EXPECT_EQ(platform::AnsiToUtf8("\xFD\xF0\xFE"), "ığş");
}

class DriverTest : public testing::Test {
protected:
    test::TempDir dir_;
    std::string log_ = dir_.File("logs/Velmora.log");
    test::ScopedEnv logEnv_{"VELMORA_LOG_FILE", log_};
    test::ScopedEnv lockEnv_{"VELMORA_LOCK_FILE", dir_.File("velmora.lock")};
    test::ScopedEnv settingsEnv_{"VELMORA_SETTINGS_FILE", dir_.File("Settings.xml")};

    std::string LogText() { return platform::AnsiToUtf8(platform::ReadWholeFile(log_)); }
};

TEST_F(DriverTest, OnTheFirstOfJanuaryNothingRunsAndTheLogHoldsOneLine) {
    for (int year : {2026, 2028}) {
        test::FixedClock clock(year, 1, 1, 23, 59, 59);
        EXPECT_EQ(driver::RunVelmora(), 0);
        EXPECT_EQ(platform::ReadWholeFile(log_), platform::Utf8ToAnsi(kNewYearLine + "\r\n"));
    }
}

TEST_F(DriverTest, OnTheDaysAroundItBothPhasesRun) {
    // Without a settings file the generation phase reports it; the send/report phase stays silent.
    for (TDateTime day : {test::DT(2026, 12, 31, 0, 0, 1), test::DT(2027, 1, 2, 8, 0)}) {
        test::FixedClock clock(day);
        EXPECT_EQ(driver::RunVelmora(), 0);
        std::string text = LogText();
        EXPECT_EQ(text.rfind("Veri tabanı bağlantısı yapılamadı: ", 0), 0u) << text;
        EXPECT_EQ(text.find("\r\n"), text.size() - 2) << "exactly one line: " << text;
    }
}

TEST_F(DriverTest, AnEmptyResultStillWritesALineAndASecondRunReplacesTheLog) {
    test::FixedClock clock(2026, 12, 10, 9, 0);
    platform::ForceDirectories(platform::ExtractFileDir(log_));
    platform::WriteFileReplacing(log_, "previous run\r\nline two\r\n");
    test::MakeProgramDatabase(dir_, {});
    EXPECT_EQ(driver::RunVelmora(), 0);
    EXPECT_EQ(platform::ReadWholeFile(log_), "\r\n");
}

TEST_F(DriverTest, AnUnwritableLogStillEndsWithStatusZero) {
    test::ScopedEnv badLog("VELMORA_LOG_FILE", "/proc/velmora-no-such-dir/Velmora.log");
    test::FixedClock clock(2026, 12, 10);
    EXPECT_EQ(driver::RunVelmora(), 0);
}

TEST_F(DriverTest, ASecondRunWhileOneIsActiveDoesNothing) {
    test::FixedClock clock(2026, 12, 10, 9, 0);
    platform::ForceDirectories(platform::ExtractFileDir(log_));
    platform::WriteFileReplacing(log_, "first run's log\r\n");
    auto held = platform::RunLock::TryAcquire();
    ASSERT_TRUE(held);
    EXPECT_EQ(driver::RunVelmora(), 0);
    EXPECT_EQ(platform::ReadWholeFile(log_), "first run's log\r\n");
    held.reset();
    EXPECT_EQ(driver::RunVelmora(), 0);
    EXPECT_NE(platform::ReadWholeFile(log_), "first run's log\r\n");
}

TEST(RunLogFile, WithoutTheOverrideTheLogGoesToItsFixedPlace) {
    test::ScopedEnv noOverride("VELMORA_LOG_FILE", "");
#ifdef _WIN32
    const std::string fixed = "c:\\Logs\\Velmora.log";
    EXPECT_EQ(driver::LogFilePath(), fixed);
    test::TempDir dir;
    test::ScopedEnv lock("VELMORA_LOCK_FILE", dir.File("velmora.lock"));
    test::FixedClock clock(2027, 1, 1, 6, 0);
    EXPECT_EQ(driver::RunVelmora(), 0);
    EXPECT_EQ(platform::ReadWholeFile(fixed), platform::Utf8ToAnsi(kNewYearLine + "\r\n"));
#else
    // The system's log folder is left alone here; the path is what a scheduled run writes to.
    EXPECT_EQ(driver::LogFilePath(), "/var/log/velmora/Velmora.log");
#endif
}

// The built program, copied into a folder of its own with "Settings.xml" beside it.
TEST(Executable, RunsEndToEndAgainstAnSqliteProgramDatabase) {
    test::TempDir dir;
    std::string tenant = test::MakeTenantDatabase(dir, "tenant.db");
    test::MakeProgramDatabase(dir, {tenant});
    std::string exe = test::CopyProgram("driver/velmora", dir);
    std::string log = dir.File("Velmora.log");
    std::vector<std::pair<std::string, std::string>> env = {{"VELMORA_SETTINGS_FILE", ""},
                                                             {"VELMORA_NOW", "2026-12-10 09:00:00"},
                                                             {"VELMORA_LOG_FILE", log},
                                                             {"VELMORA_LOCK_FILE", dir.File("lock")}};
    EXPECT_EQ(test::RunProgram(exe, env), 0);
    EXPECT_EQ(platform::ReadWholeFile(log), "\r\n");

    env[1].second = "2027-01-01 10:00:00";
    EXPECT_EQ(test::RunProgram(exe, env), 0);
    EXPECT_EQ(platform::ReadWholeFile(log), platform::Utf8ToAnsi(kNewYearLine + "\r\n"));
}

} // namespace
