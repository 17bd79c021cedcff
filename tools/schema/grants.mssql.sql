-- Least privilege (SQL Server): exactly what the program reads and writes, granted to the database
-- roles velmora_program (the scheduled program and the status tool's preview) and velmora_izleme
-- (the status tool and the monitoring views: read only). Safe to run again.
--
-- Run it in the program database and in every tenant database (the tables of the other kind are
-- skipped), then make the program's login a member of the role:
--   sqlcmd -S SQLSERVER01\ERP -d VelmoraProgram -E -b -i grants.mssql.sql
--   sqlcmd -S SQLSERVER01\ERP -d MagazaA -E -b -i grants.mssql.sql
-- Login and user, once per server and database (as an administrator):
--   CREATE LOGIN velmora WITH PASSWORD = N'...', CHECK_POLICY = ON;
--   USE VelmoraProgram; CREATE USER velmora FOR LOGIN velmora; ALTER ROLE velmora_program ADD MEMBER velmora;
--   USE MagazaA;        CREATE USER velmora FOR LOGIN velmora; ALTER ROLE velmora_program ADD MEMBER velmora;
-- Custom queries (tbNuvoSorguListesi) run with the same login: grant SELECT on every further table a
-- tenant's queries read, and nothing more.
SET NOCOUNT ON;
GO

IF DATABASE_PRINCIPAL_ID(N'velmora_program') IS NULL CREATE ROLE velmora_program;
GO
IF DATABASE_PRINCIPAL_ID(N'velmora_izleme') IS NULL CREATE ROLE velmora_izleme;
GO

-- Each grant applies only where its table exists, so one script serves both kinds of database.
DECLARE @grants TABLE (tablo SYSNAME, yetki NVARCHAR(200), rol SYSNAME);
INSERT INTO @grants (tablo, yetki, rol) VALUES
    -- program database: the tenant registry
    (N'tbNuvoVeriTabani',                  N'SELECT',                            N'velmora_program'),
    (N'tbNuvoVeriTabani',                  N'SELECT',                            N'velmora_izleme'),
    -- tenant database: gateway account and bookkeeping
    (N'tbNuvoSMSAyarlari',                 N'SELECT',                            N'velmora_program'),
    (N'tbNuvoSonKontrol',                  N'SELECT, INSERT, UPDATE',            N'velmora_program'),
    (N'tbNuvoSonKontrol',                  N'SELECT',                            N'velmora_izleme'),
    -- the queue: rows are appended and their state updated, never deleted
    (N'tbNuvoListe',                       N'SELECT, INSERT, UPDATE',            N'velmora_program'),
    (N'tbNuvoListe',                       N'SELECT',                            N'velmora_izleme'),
    -- campaign settings
    (N'tbNuvoOzelGun',                     N'SELECT',                            N'velmora_program'),
    (N'tbNuvoAlisVeris',                   N'SELECT',                            N'velmora_program'),
    (N'tbNuvoTaksit',                      N'SELECT',                            N'velmora_program'),
    (N'tbNuvoGecikmisOdeme',               N'SELECT',                            N'velmora_program'),
    (N'tbNuvoOnOdemeliSiparis',            N'SELECT',                            N'velmora_program'),
    (N'tbNuvoPerakende',                   N'SELECT',                            N'velmora_program'),
    (N'tbNuvoYetkiliKullanici',            N'SELECT',                            N'velmora_program'),
    (N'tbNuvoYetkiliKullaniciDepo',        N'SELECT',                            N'velmora_program'),
    -- record tables: appended to
    (N'tbNuvoAlisverisGonderilen',         N'SELECT, INSERT',                    N'velmora_program'),
    (N'tbNuvoOnOdemeliSiparisGonderilen',  N'SELECT, INSERT',                    N'velmora_program'),
    -- custom queries: only their last-run stamp is written
    (N'tbNuvoSorguListesi',                N'SELECT',                            N'velmora_program'),
    (N'tbNuvoSorguListesi',                N'UPDATE (son_gonderme_tarihi)',      N'velmora_program'),
    -- ERP tables, read only
    (N'tbMusteri',                         N'SELECT',                            N'velmora_program'),
    (N'tbMusteriCocugu',                   N'SELECT',                            N'velmora_program'),
    (N'tbMusteriKefil1',                   N'SELECT',                            N'velmora_program'),
    (N'tbMusteriKefil2',                   N'SELECT',                            N'velmora_program'),
    (N'tbKasiyer',                         N'SELECT',                            N'velmora_program'),
    (N'tbAlisVeris',                       N'SELECT',                            N'velmora_program'),
    (N'tbTaksit',                          N'SELECT',                            N'velmora_program'),
    (N'tbOdeme',                           N'SELECT',                            N'velmora_program'),
    (N'tbAlisverisSiparis',                N'SELECT',                            N'velmora_program'),
    (N'tbDepo',                            N'SELECT',                            N'velmora_program'),
    (N'tbDepoTipi',                        N'SELECT',                            N'velmora_program'),
    -- monitoring views (monitoring.mssql.sql)
    (N'vwNuvoListeGunluk',                 N'SELECT',                            N'velmora_izleme'),
    (N'vwNuvoEnEskiBekleyen',              N'SELECT',                            N'velmora_izleme');

DECLARE @tablo SYSNAME, @yetki NVARCHAR(200), @rol SYSNAME, @sql NVARCHAR(MAX), @kolon NVARCHAR(200);
DECLARE g CURSOR LOCAL FAST_FORWARD FOR SELECT tablo, yetki, rol FROM @grants;
OPEN g;
FETCH NEXT FROM g INTO @tablo, @yetki, @rol;
WHILE @@FETCH_STATUS = 0
BEGIN
    IF OBJECT_ID(N'dbo.' + @tablo) IS NOT NULL
    BEGIN
        -- A column list ("UPDATE (x)") goes after the object's name.
        SET @kolon = N'';
        IF CHARINDEX(N'(', @yetki) > 0
        BEGIN
            SET @kolon = N' ' + SUBSTRING(@yetki, CHARINDEX(N'(', @yetki), 200);
            SET @yetki = RTRIM(LEFT(@yetki, CHARINDEX(N'(', @yetki) - 1));
        END
        SET @sql = N'GRANT ' + @yetki + N' ON dbo.' + QUOTENAME(@tablo) + @kolon + N' TO ' + QUOTENAME(@rol) + N';';
        EXEC sp_executesql @sql;
    END
    FETCH NEXT FROM g INTO @tablo, @yetki, @rol;
END
CLOSE g;
DEALLOCATE g;
GO
