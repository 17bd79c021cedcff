// "Settings.xml" and opening the program database from it.
#include <gtest/gtest.h>

#include "campaigns/SMSCheck.h"
#include "config/AyarlarXML.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"

using namespace velmora;
using namespace velmora::config;

namespace {

class SettingsTest : public testing::Test {
protected:
    test::TempDir dir_;
    std::string settings_ = dir_.File("Settings.xml");
    test::ScopedEnv env_{"VELMORA_SETTINGS_FILE", settings_};

    void Write(const std::string& text) { platform::WriteFileReplacing(settings_, text); }
};

TEST_F(SettingsTest, ReadsTheFiveElementsInAnyOrderAndAbsentOnesAsEmpty) {
    Write("<?xml version=\"1.0\"?><Ayarlar><Baska>x</Baska><VeriTabani><VeriTabaniAdi>Prog</VeriTabaniAdi>"
          "<Sunucu>srv\\inst</Sunucu><KullaniciAdi>sa</KullaniciAdi></VeriTabani></Ayarlar>");
    auto s = ReadSettingsFile(settings_);
    EXPECT_EQ(s->VeriTabani().Sunucu(), "srv\\inst");
    EXPECT_EQ(s->VeriTabani().KullaniciAdi(), "sa");
    EXPECT_EQ(s->VeriTabani().VeriTabaniAdi(), "Prog");
    EXPECT_EQ(s->VeriTabani().Parola(), "");
    EXPECT_EQ(s->VeriTabani().Provider(), "");
}

TEST_F(SettingsTest, UnreadableFilesRaiseErrorsWithAClearText) {
    struct Case {
        const char* name;
        const char* content;  // nullptr: no file at all
        const char* expected;
    };
    const Case cases[] = {
        {"missing", nullptr, "was not found"},
        {"not xml", "this is not xml", "could not be read"},
        {"unclosed", "<Ayarlar><VeriTabani>", "could not be read"},
        {"wrong root", "<Settings><VeriTabani/></Settings>", "instead of \"Ayarlar\""},
    };
    for (const Case& c : cases) {
        platform::DeleteFileIfExists(settings_);
        if (c.content) Write(c.content);
        try {
            ReadSettingsFile(settings_);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.name << ": " << e.what();
        }
    }
}

TEST_F(SettingsTest, ConnectOpensTheProgramDatabaseWhateverTheProvider) {
    std::string db = dir_.File("program.db");
    test::CreateSqliteDatabase(db, "tools/schema/program.sqlite.sql");
    for (const char* provider : {"<Provider>SQLOLEDB.1</Provider>", "<Provider>Oracle</Provider>", ""}) {
        Write(std::string("<Ayarlar><VeriTabani>") + provider + "<Sunucu>sqlite:" + db +
              "</Sunucu><VeriTabaniAdi>Prog</VeriTabaniAdi></VeriTabani></Ayarlar>");
        db::TDbConnection c;
        std::string message = "unchanged";
        EXPECT_TRUE(ConnectProgramDatabase(c, &message)) << provider;
        EXPECT_TRUE(c.Connected());
        EXPECT_EQ(c.ProviderName, "SQL Server");
        EXPECT_EQ(c.Password, "");
        EXPECT_EQ(message, "unchanged");
    }
}

TEST_F(SettingsTest, ARejectedDatabaseGivesFalseWithTheClientsText) {
    Write("<Ayarlar><VeriTabani><Sunucu>sqlite:" + dir_.File("nope.db") + "</Sunucu></VeriTabani></Ayarlar>");
    db::TDbConnection c;
    std::string message;
    EXPECT_FALSE(ConnectProgramDatabase(c, &message));
    EXPECT_FALSE(c.Connected());
    EXPECT_NE(message.find("nope.db"), std::string::npos) << message;
}

TEST_F(SettingsTest, GenerationRunReportsAMissingFile) {
    campaigns::TSMSCheck check;
    std::string result = check.Execute();
    EXPECT_EQ(result.rfind("Veri tabanı bağlantısı yapılamadı: ", 0), 0u) << result;
    EXPECT_NE(result.find("Settings.xml"), std::string::npos) << result;
}

TEST_F(SettingsTest, GatewayValuesComeFromTheOptionalElement) {
    Write("<Ayarlar><VeriTabani/></Ayarlar>");
    gateway::GatewayBinding defaults;
    gateway::GatewayBinding b = GatewayBindingFromSettings(settings_);
    EXPECT_EQ(b.host, defaults.host);
    EXPECT_EQ(b.namespaceUri, defaults.namespaceUri);

    Write("<Ayarlar><VeriTabani/><SMSServisi><Sunucu>127.0.0.1:8099</Sunucu><IsimAlani>urn:test/</IsimAlani>"
          "<IstekZamanAsimi>5</IstekZamanAsimi><BaglantiZamanAsimi>abc</BaglantiZamanAsimi></SMSServisi></Ayarlar>");
    b = GatewayBindingFromSettings(settings_);
    EXPECT_EQ(b.host, "127.0.0.1:8099");
    EXPECT_EQ(b.namespaceUri, "urn:test/");
    EXPECT_EQ(b.requestTimeoutSeconds, 5);
    EXPECT_EQ(b.connectTimeoutSeconds, defaults.connectTimeoutSeconds);  // not a number: default kept

    platform::DeleteFileIfExists(settings_);
    EXPECT_EQ(GatewayBindingFromSettings(settings_).host, defaults.host);
}

} // namespace
