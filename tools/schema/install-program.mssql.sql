-- Program database (SQL Server): the registry of tenant databases. Safe to run again.
--   sqlcmd -S SQLSERVER01\ERP -d VelmoraProgram -E -b -i install-program.mssql.sql
SET NOCOUNT ON;
GO

-- One row per tenant database. Only rows whose aktif is not 0 are served.
IF OBJECT_ID(N'dbo.tbNuvoVeriTabani', N'U') IS NULL
CREATE TABLE tbNuvoVeriTabani (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    sunucu          NVARCHAR(260) NULL,
    kullanici_adi   NVARCHAR(128) NULL,
    parola          NVARCHAR(128) NULL,
    veritabani      NVARCHAR(128) NULL,
    aktif           INT NULL
);
GO
