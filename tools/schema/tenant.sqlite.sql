-- Tenant database (embedded SQLite form): the campaign settings and record tables, the outbound
-- queue, and the ERP tables the campaigns read, with the columns their statements use.
--
-- Conventions of the embedded form:
--   * date-times are DATETIME columns holding text "YYYY-MM-DD HH:MM:SS.ZZZ" (one fixed width, so
--     text comparison orders them);
--   * text columns name the tenant's SQL Server collation, COLLATE Turkish_CI_AS (or
--     Latin1_General_CI_AS for a tenant on that collation: replace the name throughout); the program
--     registers both, so comparisons, joins, GROUP BY and DISTINCT ignore trailing blanks and letter
--     case with Turkish i/İ and ı/I, and literals follow the collation named here;
--   * amounts are MONEY REAL: held as REAL (whole amounts too, so 101 / 2 is 50.5) and computed as
--     exact decimals by the program; identities INTEGER PRIMARY KEY AUTOINCREMENT.
-- Statements end with ';' at the end of a line.

-- One transaction: the new file is written once, not once per statement.
BEGIN TRANSACTION;

-- ============================================================================================
-- Gateway account and bookkeeping
-- ============================================================================================

-- The tenant's SMS gateway account; only the first row counts.
CREATE TABLE tbNuvoSMSAyarlari (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    kullanici_adi   VARCHAR(100) COLLATE Turkish_CI_AS,
    parola          VARCHAR(100) COLLATE Turkish_CI_AS,
    kanal_kodu      VARCHAR(50) COLLATE Turkish_CI_AS,
    developer       VARCHAR(100) COLLATE Turkish_CI_AS,
    originator      VARCHAR(20) COLLATE Turkish_CI_AS,
    sms_tipi        INT
);

-- When the daily campaigns last ran; one row, created by the first run. No defaults: a fresh row
-- reads NULL in every column.
CREATE TABLE tbNuvoSonKontrol (
    id                  INTEGER PRIMARY KEY AUTOINCREMENT,
    alisveris_sonrasi   DATETIME,
    ozel_gunler         DATETIME,
    taksit_hatirlatma   DATETIME,
    gecikmis_odeme      DATETIME
);

-- ============================================================================================
-- Outbound queue
-- ============================================================================================

-- One row per message. durum: 0 pending, 1 sent, 2 refused, 3 report received.
CREATE TABLE tbNuvoListe (
    id                  INTEGER PRIMARY KEY AUTOINCREMENT,
    mesaj_grubu         INT,
    gsm                 VARCHAR(100) COLLATE Turkish_CI_AS,
    mesaj               TEXT COLLATE Turkish_CI_AS,
    durum               INT NOT NULL DEFAULT 0,
    rapor_id            BIGINT,
    aciklama            VARCHAR(1000) COLLATE Turkish_CI_AS,
    hemen_gonder        INT,
    gonderme_baslangic  DATETIME,
    gonderme_bitis      DATETIME,
    sms_sayisi          INT,
    kayit_tarihi        DATETIME,
    gonderme_tarihi     DATETIME,
    originator          VARCHAR(20) COLLATE Turkish_CI_AS,
    sms_tipi            INT
);
-- The sender reads the pending rows oldest first.
CREATE INDEX ixNuvoListe_durum ON tbNuvoListe (durum, kayit_tarihi);

-- ============================================================================================
-- Campaign settings (one row each; the first row counts) and record tables
-- ============================================================================================

-- Special-day greetings: birthdays, marriage anniversaries, children's birthdays.
CREATE TABLE tbNuvoOzelGun (
    id                          INTEGER PRIMARY KEY AUTOINCREMENT,
    dogum_gunu_gonder           INT,
    dogum_gunu_saat             DATETIME,
    dogum_gunu_mesaj            TEXT COLLATE Turkish_CI_AS,
    evlilik_yildonumu_gonder    INT,
    evlilik_yildonumu_saat      DATETIME,
    evlilik_yildonumu_mesaj     TEXT COLLATE Turkish_CI_AS,
    cocuk_dogum_gunu_gonder     INT,
    cocuk_dogum_gunu_saat       DATETIME,
    cocuk_dogum_gunu_mesaj      TEXT COLLATE Turkish_CI_AS
);

-- After-purchase messages. gonderme_tipi 0: Dakika minutes after the purchase; else at saat.
CREATE TABLE tbNuvoAlisVeris (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    aktif           INT,
    adet_min        INT,
    adet_max        INT,
    tutar_min       MONEY REAL,
    tutar_max       MONEY REAL,
    mesaj           TEXT COLLATE Turkish_CI_AS,
    Dakika          INT,
    gonderme_tipi   INT,
    saat            DATETIME
);

-- Purchases already messaged. AlisVerisId is a character column: the program looks it up with a
-- quoted text ('QORVANT') and also compares it with the integer purchase ids (NOT IN). NOT NULL:
-- one NULL in a NOT IN list makes the test unknown for every purchase and silences them all.
CREATE TABLE tbNuvoAlisverisGonderilen (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    AlisVerisId     VARCHAR(20) NOT NULL COLLATE Turkish_CI_AS
);
CREATE INDEX ixNuvoAlisverisGonderilen_AlisVerisId ON tbNuvoAlisverisGonderilen (AlisVerisId);

-- Instalment reminders: instalments due in the last kalan_gun days.
CREATE TABLE tbNuvoTaksit (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    aktif           INT,
    saat            DATETIME,
    kalan_gun       INT,
    mesaj           TEXT COLLATE Turkish_CI_AS
);

-- Overdue-payment notices: instalments due exactly geciken_gun days ago.
CREATE TABLE tbNuvoGecikmisOdeme (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    aktif           INT,
    tutar_max       MONEY REAL,
    tutar_min       MONEY REAL,
    geciken_gun     INT,
    mesaj           TEXT COLLATE Turkish_CI_AS,
    saat            DATETIME
);

-- Prepaid-order notices.
CREATE TABLE tbNuvoOnOdemeliSiparis (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    aktif           INT,
    mesaj           TEXT COLLATE Turkish_CI_AS
);

-- Orders already notified (written with a plain INSERT of SiparisId).
CREATE TABLE tbNuvoOnOdemeliSiparisGonderilen (
    SiparisId       INT NOT NULL
);
CREATE INDEX ixNuvoOnOdemeliSiparisGonderilen_SiparisId ON tbNuvoOnOdemeliSiparisGonderilen (SiparisId);

-- Store sales summaries. gonderme_tipi 0: every full hour; else at the enabled saatN_saat.
CREATE TABLE tbNuvoPerakende (
    id                  INTEGER PRIMARY KEY AUTOINCREMENT,
    aktif               INT,
    net_satis_gonder    INT,
    gonderme_tipi       INT,
    saat1_aktif         INT,
    saat1_saat          DATETIME,
    saat2_aktif         INT,
    saat2_saat          DATETIME,
    saat3_aktif         INT,
    saat3_saat          DATETIME
);

-- Staff who receive the store sales summaries, and their stores.
CREATE TABLE tbNuvoYetkiliKullanici (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    cep_telefonu    VARCHAR(100) COLLATE Turkish_CI_AS
);

CREATE TABLE tbNuvoYetkiliKullaniciDepo (
    id                      INTEGER PRIMARY KEY AUTOINCREMENT,
    yetkili_kullanici_id    INT,
    depo_kodu               VARCHAR(20) COLLATE Turkish_CI_AS
);
CREATE INDEX ixNuvoYetkiliKullaniciDepo_kullanici ON tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id);

-- Tenant-defined custom queries: the definition document in xml, run daily at saat.
CREATE TABLE tbNuvoSorguListesi (
    id                      INTEGER PRIMARY KEY AUTOINCREMENT,
    otomatik_calistir       INT,
    saat                    DATETIME,
    son_gonderme_tarihi     DATETIME,
    xml                     BLOB,
    mesaj                   TEXT COLLATE Turkish_CI_AS,
    cep_telefonu_alani      VARCHAR(128) COLLATE Turkish_CI_AS
);

-- ============================================================================================
-- ERP tables (read only by the program; here so that a tenant file is complete)
-- ============================================================================================

-- Customers.
CREATE TABLE tbMusteri (
    nMusteriID              INTEGER PRIMARY KEY,
    lKodu                   INT,
    sAdi                    VARCHAR(50) COLLATE Turkish_CI_AS,
    sSoyadi                 VARCHAR(50) COLLATE Turkish_CI_AS,
    sGSM                    VARCHAR(50) COLLATE Turkish_CI_AS,
    dteDogumTarihi          DATETIME,
    dteEvlilikTarihi        DATETIME,
    bYazismaEvAdresinemi    BIT
);

-- Children of customers.
CREATE TABLE tbMusteriCocugu (
    nMusteriCocuguID        INTEGER PRIMARY KEY,
    nMusteriID              INT,
    sAdi                    VARCHAR(50) COLLATE Turkish_CI_AS,
    sSoyadi                 VARCHAR(50) COLLATE Turkish_CI_AS,
    dteDogumTarihi          DATETIME
);
CREATE INDEX ixMusteriCocugu_nMusteriID ON tbMusteriCocugu (nMusteriID);

-- First and second guarantors of a customer (one each at most).
CREATE TABLE tbMusteriKefil1 (
    nMusteriId              INTEGER PRIMARY KEY,
    sAdi                    VARCHAR(50) COLLATE Turkish_CI_AS,
    sSoyadi                 VARCHAR(50) COLLATE Turkish_CI_AS
);

CREATE TABLE tbMusteriKefil2 (
    nMusteriId              INTEGER PRIMARY KEY,
    sAdi                    VARCHAR(50) COLLATE Turkish_CI_AS,
    sSoyadi                 VARCHAR(50) COLLATE Turkish_CI_AS
);

-- Cashiers.
CREATE TABLE tbKasiyer (
    sKasiyerRumuzu          VARCHAR(20) COLLATE Turkish_CI_AS PRIMARY KEY,
    sAdi                    VARCHAR(50) COLLATE Turkish_CI_AS
);

-- Purchases (invoices). nGirisCikis: 3 sale, 4 return.
CREATE TABLE tbAlisVeris (
    nAlisverisID            INTEGER PRIMARY KEY,
    nMusteriID              INT,
    sKasiyerRumuzu          VARCHAR(20) COLLATE Turkish_CI_AS,
    sMagaza                 VARCHAR(20) COLLATE Turkish_CI_AS,
    nGirisCikis             INT,
    dteFaturaTarihi         DATETIME,
    dteKayitTarihi          DATETIME,
    lToplamMiktar           MONEY REAL DEFAULT 0,
    lMalBedeli              MONEY REAL DEFAULT 0,
    lMalIskontoTutari       MONEY REAL DEFAULT 0,
    lDipIskonToTutari       MONEY REAL DEFAULT 0,
    lNetTutar               MONEY REAL DEFAULT 0,
    lKdv1                   MONEY REAL DEFAULT 0,
    lKdv2                   MONEY REAL DEFAULT 0,
    lKdv3                   MONEY REAL DEFAULT 0,
    lKdv4                   MONEY REAL DEFAULT 0,
    lKdv5                   MONEY REAL DEFAULT 0
);
CREATE INDEX ixAlisVeris_nMusteriID ON tbAlisVeris (nMusteriID);
CREATE INDEX ixAlisVeris_dteKayitTarihi ON tbAlisVeris (dteKayitTarihi);
CREATE INDEX ixAlisVeris_dteFaturaTarihi ON tbAlisVeris (dteFaturaTarihi);

-- Instalments of purchases.
CREATE TABLE tbTaksit (
    nTaksitID               INTEGER PRIMARY KEY,
    nAlisverisID            INT,
    dteTarihi               DATETIME,
    lTutari                 MONEY REAL DEFAULT 0
);
CREATE INDEX ixTaksit_nAlisverisID ON tbTaksit (nAlisverisID);
CREATE INDEX ixTaksit_dteTarihi ON tbTaksit (dteTarihi);

-- Payments against instalments.
CREATE TABLE tbOdeme (
    nOdemeID                INTEGER PRIMARY KEY,
    nTaksitID               INT,
    dteOdemeTarihi          DATETIME,
    lOdemeTutar             MONEY REAL DEFAULT 0
);
CREATE INDEX ixOdeme_nTaksitID ON tbOdeme (nTaksitID);

-- Orders of purchases. sAciklama '1' marks a prepaid order.
CREATE TABLE tbAlisverisSiparis (
    nSiparisID              INTEGER PRIMARY KEY,
    nAlisverisID            INT,
    bTeslimEdildi           BIT DEFAULT 0,
    dteOnayTarihi           DATETIME,
    sAciklama               VARCHAR(100) COLLATE Turkish_CI_AS
);
CREATE INDEX ixAlisverisSiparis_dteOnayTarihi ON tbAlisverisSiparis (dteOnayTarihi);

-- Stores and store types.
CREATE TABLE tbDepo (
    sDepo                   VARCHAR(20) COLLATE Turkish_CI_AS PRIMARY KEY,
    sAciklama               VARCHAR(100) COLLATE Turkish_CI_AS,
    sDepoTipi               VARCHAR(20) COLLATE Turkish_CI_AS
);

CREATE TABLE tbDepoTipi (
    sDepoTipi               VARCHAR(20) COLLATE Turkish_CI_AS PRIMARY KEY,
    sAciklama               VARCHAR(100) COLLATE Turkish_CI_AS
);

COMMIT;
