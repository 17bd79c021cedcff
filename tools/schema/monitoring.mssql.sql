-- Monitoring views (SQL Server 2016 SP1 or later), one set per tenant database. Safe to run again.
--   sqlcmd -S SQLSERVER01\ERP -d MagazaA -E -b -i monitoring.mssql.sql
-- Then, for example:
--   SELECT * FROM vwNuvoListeGunluk WHERE gun >= DATEADD(day, -7, CAST(GETDATE() AS date)) ORDER BY gun, durum, mesaj_grubu;
--   SELECT * FROM vwNuvoEnEskiBekleyen;
SET NOCOUNT ON;
GO

-- Messages per day of queueing, state and message group. durum: 0 pending, 1 sent and awaiting its
-- report, 2 refused by the gateway, 3 report received. mesaj_grubu: 1 external, 2 custom query,
-- 3 store summary, 4 birthday, 5 anniversary, 6 child's birthday, 7 instalment, 8 after purchase,
-- 9 overdue payment, 10 prepaid order.
CREATE OR ALTER VIEW vwNuvoListeGunluk AS
SELECT CAST(kayit_tarihi AS date) AS gun,
       durum,
       mesaj_grubu,
       COUNT(*) AS adet,
       SUM(CAST(ISNULL(sms_sayisi, 1) AS BIGINT)) AS sms_adet
FROM tbNuvoListe
GROUP BY CAST(kayit_tarihi AS date), durum, mesaj_grubu;
GO

-- The oldest pending row (none when nothing waits) and its age in minutes: a row that waits long
-- means the runs do not reach the gateway, or the gateway does not decide about it.
CREATE OR ALTER VIEW vwNuvoEnEskiBekleyen AS
SELECT TOP (1) id, mesaj_grubu, gsm, kayit_tarihi,
       DATEDIFF(minute, kayit_tarihi, GETDATE()) AS bekleme_dakika,
       (SELECT COUNT(*) FROM tbNuvoListe WHERE durum = 0) AS bekleyen_adet
FROM tbNuvoListe
WHERE durum = 0
ORDER BY kayit_tarihi, id;
GO
