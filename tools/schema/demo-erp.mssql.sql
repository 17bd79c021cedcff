-- Tenant database (SQL Server), demo and test databases only: the ERP tables the campaigns read, with
-- the columns their statements use. A real tenant has these tables already (the ERP's own, often with
-- many more columns); never run this against a production tenant. Run install-tenant.mssql.sql too.
-- Batches end with GO (sqlcmd -b -i demo-erp.mssql.sql); tables that exist are left alone.
SET NOCOUNT ON;
GO

-- Customers.
IF OBJECT_ID(N'dbo.tbMusteri', N'U') IS NULL
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
GO

-- Children of customers.
IF OBJECT_ID(N'dbo.tbMusteriCocugu', N'U') IS NULL
CREATE TABLE tbMusteriCocugu (
    nMusteriCocuguID        INT PRIMARY KEY,
    nMusteriID              INT NULL,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL,
    dteDogumTarihi          DATETIME NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixMusteriCocugu_nMusteriID' AND object_id = OBJECT_ID(N'dbo.tbMusteriCocugu'))
    CREATE INDEX ixMusteriCocugu_nMusteriID ON tbMusteriCocugu (nMusteriID);
GO

-- First and second guarantors of a customer (one each at most).
IF OBJECT_ID(N'dbo.tbMusteriKefil1', N'U') IS NULL
CREATE TABLE tbMusteriKefil1 (
    nMusteriId              INT PRIMARY KEY,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL
);
GO

IF OBJECT_ID(N'dbo.tbMusteriKefil2', N'U') IS NULL
CREATE TABLE tbMusteriKefil2 (
    nMusteriId              INT PRIMARY KEY,
    sAdi                    NVARCHAR(50) NULL,
    sSoyadi                 NVARCHAR(50) NULL
);
GO

-- Cashiers.
IF OBJECT_ID(N'dbo.tbKasiyer', N'U') IS NULL
CREATE TABLE tbKasiyer (
    sKasiyerRumuzu          VARCHAR(20) PRIMARY KEY,
    sAdi                    NVARCHAR(50) NULL
);
GO

-- Purchases (invoices). nGirisCikis: 3 sale, 4 return.
IF OBJECT_ID(N'dbo.tbAlisVeris', N'U') IS NULL
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
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixAlisVeris_nMusteriID' AND object_id = OBJECT_ID(N'dbo.tbAlisVeris'))
    CREATE INDEX ixAlisVeris_nMusteriID ON tbAlisVeris (nMusteriID);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixAlisVeris_dteKayitTarihi' AND object_id = OBJECT_ID(N'dbo.tbAlisVeris'))
    CREATE INDEX ixAlisVeris_dteKayitTarihi ON tbAlisVeris (dteKayitTarihi);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixAlisVeris_dteFaturaTarihi' AND object_id = OBJECT_ID(N'dbo.tbAlisVeris'))
    CREATE INDEX ixAlisVeris_dteFaturaTarihi ON tbAlisVeris (dteFaturaTarihi);
GO

-- Instalments of purchases.
IF OBJECT_ID(N'dbo.tbTaksit', N'U') IS NULL
CREATE TABLE tbTaksit (
    nTaksitID               INT PRIMARY KEY,
    nAlisverisID            INT NULL,
    dteTarihi               DATETIME NULL,
    lTutari                 MONEY NULL DEFAULT 0
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixTaksit_nAlisverisID' AND object_id = OBJECT_ID(N'dbo.tbTaksit'))
    CREATE INDEX ixTaksit_nAlisverisID ON tbTaksit (nAlisverisID);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixTaksit_dteTarihi' AND object_id = OBJECT_ID(N'dbo.tbTaksit'))
    CREATE INDEX ixTaksit_dteTarihi ON tbTaksit (dteTarihi);
GO

-- Payments against instalments.
IF OBJECT_ID(N'dbo.tbOdeme', N'U') IS NULL
CREATE TABLE tbOdeme (
    nOdemeID                INT PRIMARY KEY,
    nTaksitID               INT NULL,
    dteOdemeTarihi          DATETIME NULL,
    lOdemeTutar             MONEY NULL DEFAULT 0
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixOdeme_nTaksitID' AND object_id = OBJECT_ID(N'dbo.tbOdeme'))
    CREATE INDEX ixOdeme_nTaksitID ON tbOdeme (nTaksitID);
GO

-- Orders of purchases. sAciklama '1' marks a prepaid order.
IF OBJECT_ID(N'dbo.tbAlisverisSiparis', N'U') IS NULL
CREATE TABLE tbAlisverisSiparis (
    nSiparisID              INT PRIMARY KEY,
    nAlisverisID            INT NULL,
    bTeslimEdildi           BIT NULL DEFAULT 0,
    dteOnayTarihi           DATETIME NULL,
    sAciklama               NVARCHAR(100) NULL
);
GO
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'ixAlisverisSiparis_dteOnayTarihi' AND object_id = OBJECT_ID(N'dbo.tbAlisverisSiparis'))
    CREATE INDEX ixAlisverisSiparis_dteOnayTarihi ON tbAlisverisSiparis (dteOnayTarihi);
GO

-- Stores and store types.
IF OBJECT_ID(N'dbo.tbDepo', N'U') IS NULL
CREATE TABLE tbDepo (
    sDepo                   VARCHAR(20) PRIMARY KEY,
    sAciklama               NVARCHAR(100) NULL,
    sDepoTipi               VARCHAR(20) NULL
);
GO

IF OBJECT_ID(N'dbo.tbDepoTipi', N'U') IS NULL
CREATE TABLE tbDepoTipi (
    sDepoTipi               VARCHAR(20) PRIMARY KEY,
    sAciklama               NVARCHAR(100) NULL
);
GO
