-- Program database (embedded SQLite form): the registry of tenant databases.
-- Date-times are stored as text "YYYY-MM-DD HH:MM:SS.ZZZ"; text columns compare without regard
-- to letter case, like SQL Server's default collation.

-- One transaction: the new file is written once, not once per statement.
BEGIN TRANSACTION;

-- One row per tenant database. Only rows whose aktif is not 0 are served.
-- For the embedded backend sunucu reads "sqlite:<path of the tenant file>".
CREATE TABLE tbNuvoVeriTabani (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    sunucu          VARCHAR(260) COLLATE NOCASE,
    kullanici_adi   VARCHAR(128) COLLATE NOCASE,
    parola          VARCHAR(128) COLLATE NOCASE,
    veritabani      VARCHAR(128) COLLATE NOCASE,
    aktif           INT
);

COMMIT;
