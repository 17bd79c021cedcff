-- Tenant database (SQL Server): the system's own tables only (gateway account, bookkeeping, queue,
-- campaign settings and record tables). Safe to run again: what exists is left as it is, and a
-- record table from an older install whose AlisVerisId still accepts NULL is tightened.
-- Run it in each tenant database with sqlcmd (batches end with GO):
--   sqlcmd -S SQLSERVER01\ERP -d MagazaA -E -b -i install-tenant.mssql.sql
-- The ERP tables are the ERP's own and are not touched here (demo-erp.mssql.sql is for demo databases).
SET NOCOUNT ON;
GO
-- ============================================================================================
-- Gateway account and bookkeeping
-- ============================================================================================

-- The tenant's SMS gateway account; only the first row counts.
IF OBJECT_ID(N'dbo.tbNuvoSMSAyarlari', N'U') IS NULL
CREATE TABLE tbNuvoSMSAyarlari (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    kullanici_adi   NVARCHAR(100) NULL,
    parola          NVARCHAR(100) NULL,
    kanal_kodu      NVARCHAR(50) NULL,
    developer       NVARCHAR(100) NULL,
    originator      NVARCHAR(20) NULL,
    sms_tipi        INT NULL
);
GO

-- When the daily campaigns last ran; one row, created by the first run. No defaults: a fresh row
-- reads NULL in every column.
IF OBJECT_ID(N'dbo.tbNuvoSonKontrol', N'U') IS NULL
CREATE TABLE tbNuvoSonKontrol (
    id                  INT IDENTITY(1,1) PRIMARY KEY,
    alisveris_sonrasi   DATETIME NULL,
    ozel_gunler         DATETIME NULL,
    taksit_hatirlatma   DATETIME NULL,
    gecikmis_odeme      DATETIME NULL
);
GO

-- ============================================================================================
-- Outbound queue
-- ============================================================================================

-- One row per message. durum: 0 pending, 1 sent, 2 refused, 3 report received.
IF OBJECT_ID(N'dbo.tbNuvoListe', N'U') IS NULL
CREATE TABLE tbNuvoListe (
    id                  INT IDENTITY(1,1) PRIMARY KEY,
    mesaj_grubu         INT NULL,
    gsm                 NVARCHAR(100) NULL,
    mesaj               NVARCHAR(MAX) NULL,
    durum               INT NOT NULL DEFAULT 0,
    rapor_id            BIGINT NULL,
    aciklama            NVARCHAR(1000) NULL,
    hemen_gonder        INT NULL,
    gonderme_baslangic  DATETIME NULL,
    gonderme_bitis      DATETIME NULL,
    sms_sayisi          INT NULL,
    kayit_tarihi        DATETIME NULL,
    gonderme_tarihi     DATETIME NULL,
    originator          NVARCHAR(20) NULL,
    sms_tipi            INT NULL
);
GO
-- The sender reads the pending rows oldest first.
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixNuvoListe_durum' AND object_id = OBJECT_ID(N'dbo.tbNuvoListe'))
    CREATE INDEX ixNuvoListe_durum ON tbNuvoListe (durum, kayit_tarihi);
GO

-- ============================================================================================
-- Campaign settings (one row each; the first row counts) and record tables
-- ============================================================================================

-- Special-day greetings: birthdays, marriage anniversaries, children's birthdays.
IF OBJECT_ID(N'dbo.tbNuvoOzelGun', N'U') IS NULL
CREATE TABLE tbNuvoOzelGun (
    id                          INT IDENTITY(1,1) PRIMARY KEY,
    dogum_gunu_gonder           INT NULL,
    dogum_gunu_saat             DATETIME NULL,
    dogum_gunu_mesaj            NVARCHAR(2000) NULL,
    evlilik_yildonumu_gonder    INT NULL,
    evlilik_yildonumu_saat      DATETIME NULL,
    evlilik_yildonumu_mesaj     NVARCHAR(2000) NULL,
    cocuk_dogum_gunu_gonder     INT NULL,
    cocuk_dogum_gunu_saat       DATETIME NULL,
    cocuk_dogum_gunu_mesaj      NVARCHAR(2000) NULL
);
GO

-- After-purchase messages. gonderme_tipi 0: Dakika minutes after the purchase; else at saat.
IF OBJECT_ID(N'dbo.tbNuvoAlisVeris', N'U') IS NULL
CREATE TABLE tbNuvoAlisVeris (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    adet_min        INT NULL,
    adet_max        INT NULL,
    tutar_min       MONEY NULL,
    tutar_max       MONEY NULL,
    mesaj           NVARCHAR(2000) NULL,
    Dakika          INT NULL,
    gonderme_tipi   INT NULL,
    saat            DATETIME NULL
);
GO

-- Purchases already messaged. AlisVerisId is a character column: the program looks it up with a
-- quoted text ('QORVANT'), which an INT column would refuse, and compares it with the integer
-- purchase ids (NOT IN), which converts the digits. NOT NULL: one NULL in a NOT IN list makes the
-- test unknown for every purchase, which would silence every after-purchase message.
IF OBJECT_ID(N'dbo.tbNuvoAlisverisGonderilen', N'U') IS NULL
CREATE TABLE tbNuvoAlisverisGonderilen (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    AlisVerisId     VARCHAR(20) NOT NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixNuvoAlisverisGonderilen_AlisVerisId' AND object_id = OBJECT_ID(N'dbo.tbNuvoAlisverisGonderilen'))
    CREATE INDEX ixNuvoAlisverisGonderilen_AlisVerisId ON tbNuvoAlisverisGonderilen (AlisVerisId);
GO

-- Instalment reminders: instalments due in the last kalan_gun days.
IF OBJECT_ID(N'dbo.tbNuvoTaksit', N'U') IS NULL
CREATE TABLE tbNuvoTaksit (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    saat            DATETIME NULL,
    kalan_gun       INT NULL,
    mesaj           NVARCHAR(2000) NULL
);
GO

-- Overdue-payment notices: instalments due exactly geciken_gun days ago.
IF OBJECT_ID(N'dbo.tbNuvoGecikmisOdeme', N'U') IS NULL
CREATE TABLE tbNuvoGecikmisOdeme (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    tutar_max       MONEY NULL,
    tutar_min       MONEY NULL,
    geciken_gun     INT NULL,
    mesaj           NVARCHAR(2000) NULL,
    saat            DATETIME NULL
);
GO

-- Prepaid-order notices.
IF OBJECT_ID(N'dbo.tbNuvoOnOdemeliSiparis', N'U') IS NULL
CREATE TABLE tbNuvoOnOdemeliSiparis (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    mesaj           NVARCHAR(2000) NULL
);
GO

-- Orders already notified (written with a plain INSERT of SiparisId).
IF OBJECT_ID(N'dbo.tbNuvoOnOdemeliSiparisGonderilen', N'U') IS NULL
CREATE TABLE tbNuvoOnOdemeliSiparisGonderilen (
    SiparisId       INT NOT NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixNuvoOnOdemeliSiparisGonderilen_SiparisId' AND object_id = OBJECT_ID(N'dbo.tbNuvoOnOdemeliSiparisGonderilen'))
    CREATE INDEX ixNuvoOnOdemeliSiparisGonderilen_SiparisId ON tbNuvoOnOdemeliSiparisGonderilen (SiparisId);
GO

-- Store sales summaries. gonderme_tipi 0: every full hour; else at the enabled saatN_saat.
IF OBJECT_ID(N'dbo.tbNuvoPerakende', N'U') IS NULL
CREATE TABLE tbNuvoPerakende (
    id                  INT IDENTITY(1,1) PRIMARY KEY,
    aktif               INT NULL,
    net_satis_gonder    INT NULL,
    gonderme_tipi       INT NULL,
    saat1_aktif         INT NULL,
    saat1_saat          DATETIME NULL,
    saat2_aktif         INT NULL,
    saat2_saat          DATETIME NULL,
    saat3_aktif         INT NULL,
    saat3_saat          DATETIME NULL
);
GO

-- Staff who receive the store sales summaries, and their stores.
IF OBJECT_ID(N'dbo.tbNuvoYetkiliKullanici', N'U') IS NULL
CREATE TABLE tbNuvoYetkiliKullanici (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    cep_telefonu    NVARCHAR(100) NULL
);
GO

IF OBJECT_ID(N'dbo.tbNuvoYetkiliKullaniciDepo', N'U') IS NULL
CREATE TABLE tbNuvoYetkiliKullaniciDepo (
    id                      INT IDENTITY(1,1) PRIMARY KEY,
    yetkili_kullanici_id    INT NULL,
    depo_kodu               VARCHAR(20) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixNuvoYetkiliKullaniciDepo_kullanici' AND object_id = OBJECT_ID(N'dbo.tbNuvoYetkiliKullaniciDepo'))
    CREATE INDEX ixNuvoYetkiliKullaniciDepo_kullanici ON tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id);
GO

-- Tenant-defined custom queries: the definition document in xml, run daily at saat.
IF OBJECT_ID(N'dbo.tbNuvoSorguListesi', N'U') IS NULL
CREATE TABLE tbNuvoSorguListesi (
    id                      INT IDENTITY(1,1) PRIMARY KEY,
    otomatik_calistir       INT NULL,
    saat                    DATETIME NULL,
    son_gonderme_tarihi     DATETIME NULL,
    xml                     VARBINARY(MAX) NULL,
    mesaj                   NVARCHAR(2000) NULL,
    cep_telefonu_alani      NVARCHAR(128) NULL
);
GO

-- ============================================================================================
-- Older installs: AlisVerisId NOT NULL
-- ============================================================================================

-- A NULL AlisVerisId names no purchase, yet in the after-purchase statement's NOT IN list it makes the
-- test unknown for every purchase, so nobody gets a message. Such rows carry nothing and are removed
-- before the column is tightened (the index is rebuilt around the change).
IF COLUMNPROPERTY(OBJECT_ID(N'dbo.tbNuvoAlisverisGonderilen'), N'AlisVerisId', 'AllowsNull') = 1
BEGIN
    DELETE FROM tbNuvoAlisverisGonderilen WHERE AlisVerisId IS NULL;
    IF EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixNuvoAlisverisGonderilen_AlisVerisId'
               AND object_id = OBJECT_ID(N'dbo.tbNuvoAlisverisGonderilen'))
        DROP INDEX ixNuvoAlisverisGonderilen_AlisVerisId ON tbNuvoAlisverisGonderilen;
    ALTER TABLE tbNuvoAlisverisGonderilen ALTER COLUMN AlisVerisId VARCHAR(20) NOT NULL;
    CREATE INDEX ixNuvoAlisverisGonderilen_AlisVerisId ON tbNuvoAlisverisGonderilen (AlisVerisId);
END
GO
