-- Tenant database (SQL Server form): the campaign settings and record tables, the outbound queue,
-- and the ERP tables the campaigns read, with the columns their statements use. A real tenant
-- already has the ERP tables; their part below is for test and demo databases.
-- Statements end with ';' at the end of a line.

-- ============================================================================================
-- Gateway account and bookkeeping
-- ============================================================================================

-- The tenant's SMS gateway account; only the first row counts.
CREATE TABLE tbNuvoSMSAyarlari (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    kullanici_adi   NVARCHAR(100) NULL,
    parola          NVARCHAR(100) NULL,
    kanal_kodu      NVARCHAR(50) NULL,
    developer       NVARCHAR(100) NULL,
    originator      NVARCHAR(20) NULL,
    sms_tipi        INT NULL
);

-- When the daily campaigns last ran; one row, created by the first run. No defaults: a fresh row
-- reads NULL in every column.
CREATE TABLE tbNuvoSonKontrol (
    id                  INT IDENTITY(1,1) PRIMARY KEY,
    alisveris_sonrasi   DATETIME NULL,
    ozel_gunler         DATETIME NULL,
    taksit_hatirlatma   DATETIME NULL,
    gecikmis_odeme      DATETIME NULL
);

-- ============================================================================================
-- Outbound queue
-- ============================================================================================

-- One row per message. durum: 0 pending, 1 sent, 2 refused, 3 report received.
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
-- The sender reads the pending rows oldest first.
CREATE INDEX ixNuvoListe_durum ON tbNuvoListe (durum, kayit_tarihi);

-- ============================================================================================
-- Campaign settings (one row each; the first row counts) and record tables
-- ============================================================================================

-- Special-day greetings: birthdays, marriage anniversaries, children's birthdays.
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

-- After-purchase messages. gonderme_tipi 0: Dakika minutes after the purchase; else at saat.
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

-- Purchases already messaged. AlisVerisId is a character column: the program looks it up with a
-- quoted text ('QORVANT'), which an INT column would refuse, and compares it with the integer
-- purchase ids (NOT IN), which converts the digits. NOT NULL: one NULL in a NOT IN list makes the
-- test unknown for every purchase, which would silence every after-purchase message.
CREATE TABLE tbNuvoAlisverisGonderilen (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    AlisVerisId     VARCHAR(20) NOT NULL
);
CREATE INDEX ixNuvoAlisverisGonderilen_AlisVerisId ON tbNuvoAlisverisGonderilen (AlisVerisId);

-- Instalment reminders: instalments due in the last kalan_gun days.
CREATE TABLE tbNuvoTaksit (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    saat            DATETIME NULL,
    kalan_gun       INT NULL,
    mesaj           NVARCHAR(2000) NULL
);

-- Overdue-payment notices: instalments due exactly geciken_gun days ago.
CREATE TABLE tbNuvoGecikmisOdeme (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    tutar_max       MONEY NULL,
    tutar_min       MONEY NULL,
    geciken_gun     INT NULL,
    mesaj           NVARCHAR(2000) NULL,
    saat            DATETIME NULL
);

-- Prepaid-order notices.
CREATE TABLE tbNuvoOnOdemeliSiparis (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    aktif           INT NULL,
    mesaj           NVARCHAR(2000) NULL
);

-- Orders already notified (written with a plain INSERT of SiparisId).
CREATE TABLE tbNuvoOnOdemeliSiparisGonderilen (
    SiparisId       INT NOT NULL
);
CREATE INDEX ixNuvoOnOdemeliSiparisGonderilen_SiparisId ON tbNuvoOnOdemeliSiparisGonderilen (SiparisId);

-- Store sales summaries. gonderme_tipi 0: every full hour; else at the enabled saatN_saat.
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

-- Staff who receive the store sales summaries, and their stores.
CREATE TABLE tbNuvoYetkiliKullanici (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    cep_telefonu    NVARCHAR(100) NULL
);

CREATE TABLE tbNuvoYetkiliKullaniciDepo (
    id                      INT IDENTITY(1,1) PRIMARY KEY,
    yetkili_kullanici_id    INT NULL,
    depo_kodu               VARCHAR(20) NULL
);
CREATE INDEX ixNuvoYetkiliKullaniciDepo_kullanici ON tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id);

-- Tenant-defined custom queries: the definition document in xml, run daily at saat.
CREATE TABLE tbNuvoSorguListesi (
    id                      INT IDENTITY(1,1) PRIMARY KEY,
    otomatik_calistir       INT NULL,
    saat                    DATETIME NULL,
    son_gonderme_tarihi     DATETIME NULL,
    xml                     VARBINARY(MAX) NULL,
    mesaj                   NVARCHAR(2000) NULL,
    cep_telefonu_alani      NVARCHAR(128) NULL
);

-- ============================================================================================
-- ERP tables (read only by the program)
-- ============================================================================================

-- Customers.
CREATE TABLE tbMusteri (
    nMusteriID              INT PRIMARY KEY,
    lKodu                   INT NULL,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL,
    sGSM                    NVARCHAR(50) NULL,
    dteDogumTarihi          DATETIME NULL,
    dteEvlilikTarihi        DATETIME NULL,
    bYazismaEvAdresinemi    BIT NULL
);

-- Children of customers.
CREATE TABLE tbMusteriCocugu (
    nMusteriCocuguID        INT PRIMARY KEY,
    nMusteriID              INT NULL,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL,
    dteDogumTarihi          DATETIME NULL
);
CREATE INDEX ixMusteriCocugu_nMusteriID ON tbMusteriCocugu (nMusteriID);

-- First and second guarantors of a customer (one each at most).
CREATE TABLE tbMusteriKefil1 (
    nMusteriId              INT PRIMARY KEY,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL
);

CREATE TABLE tbMusteriKefil2 (
    nMusteriId              INT PRIMARY KEY,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL
);

-- Cashiers.
CREATE TABLE tbKasiyer (
    sKasiyerRumuzu          VARCHAR(20) PRIMARY KEY,
    sAdi                    NVARCHAR(50) NULL
);

-- Purchases (invoices). nGirisCikis: 3 sale, 4 return.
CREATE TABLE tbAlisVeris (
    nAlisverisID            INT PRIMARY KEY,
    nMusteriID              INT NULL,
    sKasiyerRumuzu          VARCHAR(20) NULL,
    sMagaza                 VARCHAR(20) NULL,
    nGirisCikis             INT NULL,
    dteFaturaTarihi         DATETIME NULL,
    dteKayitTarihi          DATETIME NULL,
    lToplamMiktar           MONEY NULL DEFAULT 0,
    lMalBedeli              MONEY NULL DEFAULT 0,
    lMalIskontoTutari       MONEY NULL DEFAULT 0,
    lDipIskonToTutari       MONEY NULL DEFAULT 0,
    lNetTutar               MONEY NULL DEFAULT 0,
    lKdv1                   MONEY NULL DEFAULT 0,
    lKdv2                   MONEY NULL DEFAULT 0,
    lKdv3                   MONEY NULL DEFAULT 0,
    lKdv4                   MONEY NULL DEFAULT 0,
    lKdv5                   MONEY NULL DEFAULT 0
);
CREATE INDEX ixAlisVeris_nMusteriID ON tbAlisVeris (nMusteriID);
CREATE INDEX ixAlisVeris_dteKayitTarihi ON tbAlisVeris (dteKayitTarihi);
CREATE INDEX ixAlisVeris_dteFaturaTarihi ON tbAlisVeris (dteFaturaTarihi);

-- Instalments of purchases.
CREATE TABLE tbTaksit (
    nTaksitID               INT PRIMARY KEY,
    nAlisverisID            INT NULL,
    dteTarihi               DATETIME NULL,
    lTutari                 MONEY NULL DEFAULT 0
);
CREATE INDEX ixTaksit_nAlisverisID ON tbTaksit (nAlisverisID);
CREATE INDEX ixTaksit_dteTarihi ON tbTaksit (dteTarihi);

-- Payments against instalments.
CREATE TABLE tbOdeme (
    nOdemeID                INT PRIMARY KEY,
    nTaksitID               INT NULL,
    dteOdemeTarihi          DATETIME NULL,
    lOdemeTutar             MONEY NULL DEFAULT 0
);
CREATE INDEX ixOdeme_nTaksitID ON tbOdeme (nTaksitID);

-- Orders of purchases. sAciklama '1' marks a prepaid order.
CREATE TABLE tbAlisverisSiparis (
    nSiparisID              INT PRIMARY KEY,
    nAlisverisID            INT NULL,
    bTeslimEdildi           BIT NULL DEFAULT 0,
    dteOnayTarihi           DATETIME NULL,
    sAciklama               NVARCHAR(100) NULL
);
CREATE INDEX ixAlisverisSiparis_dteOnayTarihi ON tbAlisverisSiparis (dteOnayTarihi);

-- Stores and store types.
CREATE TABLE tbDepo (
    sDepo                   VARCHAR(20) PRIMARY KEY,
    sAciklama               NVARCHAR(100) NULL,
    sDepoTipi               VARCHAR(20) NULL
);

CREATE TABLE tbDepoTipi (
    sDepoTipi               VARCHAR(20) PRIMARY KEY,
    sAciklama               NVARCHAR(100) NULL
);
