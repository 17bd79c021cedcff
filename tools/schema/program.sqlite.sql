-- Program database (embedded SQLite form): the registry of tenant databases.
-- Date-times are stored as text "YYYY-MM-DD HH:MM:SS.ZZZ"; text columns name the server's
-- collation (Turkish_CI_AS, registered by the program): letter case and trailing blanks do not count.

-- One transaction: the new file is written once, not once per statement.
BEGIN TRANSACTION;

-- One row per tenant database. Only rows whose aktif is not 0 are served.
-- For the embedded backend sunucu reads "sqlite:<path of the tenant file>".
CREATE TABLE tbNuvoVeriTabani (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    sunucu          VARCHAR(260) COLLATE Turkish_CI_AS,
    kullanici_adi   VARCHAR(128) COLLATE Turkish_CI_AS,
    parola          VARCHAR(128) COLLATE Turkish_CI_AS,
    veritabani      VARCHAR(128) COLLATE Turkish_CI_AS,
    aktif           INT
);

COMMIT;
