-- Program database (SQL Server form): the registry of tenant databases.

-- One row per tenant database. Only rows whose aktif is not 0 are served.
CREATE TABLE tbNuvoVeriTabani (
    id              INT IDENTITY(1,1) PRIMARY KEY,
    sunucu          NVARCHAR(260) NULL,
    kullanici_adi   NVARCHAR(128) NULL,
    parola          NVARCHAR(128) NULL,
    veritabani      NVARCHAR(128) NULL,
    aktif           INT NULL
);
