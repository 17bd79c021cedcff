// "Settings.xml" and opening the program database from it.
#include <gtest/gtest.h>

#include "campaigns/SMSCheck.h"
#include "config/AyarlarXML.h"
#include "config/TenantRegistry.h"
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

TEST_F(SettingsTest, DatabaseOptionsHoldForTheProgramAndEveryTenantConnection) {
    const std::string tenant = test::MakeTenantDatabase(dir_, "tenant.db");
    const std::string settings = test::MakeProgramDatabase(dir_, {tenant});
    ASSERT_EQ(settings, settings_);
    std::string text = platform::ReadWholeFile(settings_);
    text.replace(text.find("</VeriTabani>"), 13,
                 "<Surucu> ODBC Driver 18 for SQL Server </Surucu><BaglantiOzellikleri>Encrypt=yes;"
                 "TrustServerCertificate=yes</BaglantiOzellikleri><BaglantiZamanAsimi>7</BaglantiZamanAsimi>"
                 "<KomutZamanAsimi> 1200 </KomutZamanAsimi></VeriTabani>");
    Write(text);

    db::TDbConnection program;
    std::string message;
    ASSERT_TRUE(ConnectProgramDatabase(program, &message)) << message;
    std::vector<db::ConnectionOptions> seen = {program.Options};
    VisitActiveTenants(program, [&](db::TDbConnection& t) { seen.push_back(t.Options); });
    ASSERT_EQ(seen.size(), 2u);
    for (const db::ConnectionOptions& o : seen) {
        EXPECT_EQ(o.odbcDriver, "ODBC Driver 18 for SQL Server");
        EXPECT_EQ(o.odbcAttributes, "Encrypt=yes;TrustServerCertificate=yes");
        EXPECT_EQ(o.connectTimeoutSeconds, 7);
        EXPECT_EQ(o.commandTimeoutSeconds, 1200);
    }
}

TEST_F(SettingsTest, DatabaseTimeOutsAreWholeSecondsOrTheConnectFailsWithTheirName) {
    struct Case {
        const char* elements;
        int connect, command;  // expected; 0: the connect fails naming the element
        const char* named;
    };
    const Case cases[] = {
        {"", db::kDefaultConnectTimeoutSeconds, db::kDefaultCommandTimeoutSeconds, ""},
        {"<BaglantiZamanAsimi></BaglantiZamanAsimi><KomutZamanAsimi/>", db::kDefaultConnectTimeoutSeconds,
         db::kDefaultCommandTimeoutSeconds, ""},
        {"<BaglantiZamanAsimi>1</BaglantiZamanAsimi><KomutZamanAsimi>86400</KomutZamanAsimi>", 1, 86400, ""},
        {"<KomutZamanAsimi>abc</KomutZamanAsimi>", 0, 0, "KomutZamanAsimi"},
        {"<KomutZamanAsimi>0</KomutZamanAsimi>", 0, 0, "KomutZamanAsimi"},
        {"<BaglantiZamanAsimi>-5</BaglantiZamanAsimi>", 0, 0, "BaglantiZamanAsimi"},
        {"<BaglantiZamanAsimi>90000</BaglantiZamanAsimi>", 0, 0, "BaglantiZamanAsimi"},
        {"<KomutZamanAsimi>1.5</KomutZamanAsimi>", 0, 0, "KomutZamanAsimi"},
    };
    const std::string db = dir_.File("program.db");
    test::CreateSqliteDatabase(db, "tools/schema/program.sqlite.sql");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.elements);
        Write(std::string("<Ayarlar><VeriTabani><Sunucu>sqlite:") + db + "</Sunucu>" + c.elements +
              "</VeriTabani></Ayarlar>");
        db::TDbConnection connection;
        std::string message;
        const bool connected = ConnectProgramDatabase(connection, &message);
        EXPECT_EQ(connected, c.connect != 0) << message;
        if (connected) {
            EXPECT_EQ(connection.Options.connectTimeoutSeconds, c.connect);
            EXPECT_EQ(connection.Options.commandTimeoutSeconds, c.command);
        } else {
            EXPECT_NE(message.find(c.named), std::string::npos) << message;
        }
    }
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
