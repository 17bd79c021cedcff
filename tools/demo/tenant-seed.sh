#!/usr/bin/env bash
# Prints the demo tenant's data as SQL for the day given as $1 (YYYY-MM-DD): a gateway account,
# campaign settings that fire at 10:00, and a small ERP data set that makes every campaign produce messages.
set -euo pipefail
DAY=$1
d() { date -d "$DAY $1" +%F; }           # a day relative to the demo day
MD=$(date -d "$DAY" +%m-%d)
YESTERDAY=$(d "-1 day")
TEN_AGO=$(d "-10 days")
cat <<SQL
BEGIN TRANSACTION;
INSERT INTO tbNuvoSMSAyarlari (kullanici_adi, parola, kanal_kodu, developer, originator, sms_tipi)
  VALUES ('demo', 'secret', 'VELMORA', 'DEMO-JOB', 'VELMORA', 1);
-- The after-purchase step looks at purchases registered since 09:00.
INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi) VALUES ('$DAY 09:00:00.000');

-- A message already waiting from an earlier run, and one the gateway will refuse (see the simulator's decision).
INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, sms_sayisi, kayit_tarihi)
  VALUES (1, '05321112233', 'Dünkü kampanyamızı kaçırmayın!', 0, 1, 1, '$YESTERDAY 18:00:00.000'),
         (1, '05329999999', 'Bu numara ağ geçidince reddedilir.', 0, 1, 1, '$YESTERDAY 18:00:01.000');

-- Campaign settings
INSERT INTO tbNuvoOzelGun VALUES (1,
  1, '1899-12-30 10:30:00.000', 'Sevgili {{MusteriAdi}} {{MusteriSoyadi}}, doğum gününüz kutlu olsun!',
  1, '1899-12-30 11:00:00.000', 'Sayın {{MusteriAdi}} {{MusteriSoyadi}}, evlilik yıldönümünüz kutlu olsun!',
  1, '1899-12-30 09:00:00.000', 'Sevgili {{MusteriAdi}}, {{MusteriCocuguAdi}} doğum gününde bizden bir hediye var!');
INSERT INTO tbNuvoAlisVeris (aktif, adet_min, adet_max, tutar_min, tutar_max, mesaj, Dakika, gonderme_tipi, saat)
  VALUES (1, NULL, NULL, 50, NULL, 'Teşekkürler {{MusteriAdi}}! Alışverişiniz için bizi tercih ettiniz.', 30, 0, NULL);
INSERT INTO tbNuvoTaksit (aktif, saat, kalan_gun, mesaj)
  VALUES (1, '1899-12-30 12:00:00.000', 3, 'Sayın {{MusteriAdi}} {{MusteriSoyadi}}, {{Tarih}} tarihli {{Tutar}} taksidinizi hatırlatırız.');
INSERT INTO tbNuvoGecikmisOdeme (aktif, tutar_max, tutar_min, geciken_gun, mesaj, saat)
  VALUES (1, NULL, 1, 10, 'Sayın {{MusteriAdi}} {{MusteriSoyadi}}, {{Tarih}} vadeli {{Tutar}} ödemeniz gecikmiştir.', '1899-12-30 14:00:00.000');
INSERT INTO tbNuvoOnOdemeliSiparis (aktif, mesaj)
  VALUES (1, 'Sayın {{MusteriAdi}}, {{Tarih}} tarihli {{Tutar}} tutarındaki ön ödemeli siparişiniz onaylandı.');
INSERT INTO tbNuvoPerakende (aktif, net_satis_gonder, gonderme_tipi) VALUES (1, 0, 0);
INSERT INTO tbNuvoYetkiliKullanici (id, cep_telefonu) VALUES (1, '05300000001');
INSERT INTO tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id, depo_kodu) VALUES (1, 'M01'), (1, 'M02');
INSERT INTO tbNuvoSorguListesi (otomatik_calistir, saat, son_gonderme_tarihi, xml, mesaj, cep_telefonu_alani)
  VALUES (1, '1899-12-30 10:00:00.000', '$YESTERDAY 10:00:00.000', CAST('<?xml version="1.0" encoding="utf-8"?>
<OzelSorgu><SorguAdi>Sadık müşteriler</SorguAdi><SorguAciklama>Kodu eşik değerin üstündekiler</SorguAciklama>
<Sorgu>SELECT sAdi AS Adi, sSoyadi AS Soyadi, sGSM AS Telefon FROM tbMusteri WHERE lKodu &gt;= :EsikKod ORDER BY lKodu</Sorgu>
<Parametre><Adi>EsikKod</Adi><Aciklama>En küçük müşteri kodu</Aciklama><VeriTipi>Integer</VeriTipi><Value>1004</Value></Parametre>
</OzelSorgu>' AS BLOB), 'Sayın {{Adi}} {{SOYADI}}, sadık müşterimiz olduğunuz için teşekkürler!', 'Telefon');

-- ERP: customers (one born today, one married today, one with a child born today, one bad number)
INSERT INTO tbMusteri VALUES (1, 1001, 'Ayşe', 'Yılmaz', '0532 111 22 33', '1985-$MD 00:00:00.000', NULL, 1);
INSERT INTO tbMusteri VALUES (2, 1002, 'Mehmet', 'Öztürk', '+90 533 222 33 44', '1979-02-11 00:00:00.000', '2005-$MD 00:00:00.000', 0);
INSERT INTO tbMusteri VALUES (3, 1003, 'Zeynep', 'Çelik', '5344443322', '1990-07-19 00:00:00.000', NULL, 1);
INSERT INTO tbMusteri VALUES (4, 1004, 'Ali', 'Şahin', '0212 555 66 77', '1900-$MD 00:00:00.000', NULL, 0);
INSERT INTO tbMusteri VALUES (5, 1005, 'Gül', 'Kaya', '0535 666 77 88', NULL, NULL, 0);
INSERT INTO tbMusteriCocugu VALUES (1, 3, 'Deniz', 'Çelik', '2015-$MD 00:00:00.000');
INSERT INTO tbKasiyer VALUES ('KASA1', 'Kasa 1');
INSERT INTO tbDepoTipi VALUES ('MGZ', 'Mağaza');
INSERT INTO tbDepo VALUES ('M01', 'Merkez Mağaza', 'MGZ'), ('M02', 'Sahil Mağaza', 'MGZ');

-- Purchases: two registered this morning after 09:00 (one above, one below the 50 TL bound), sales and a
-- return invoiced today for the store summaries, and older instalment purchases.
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, sMagaza, nGirisCikis, dteFaturaTarihi, dteKayitTarihi, lToplamMiktar, lMalBedeli, lNetTutar, lKdv1)
  VALUES (1, 1, 'KASA1', 'M01', 3, '$DAY 00:00:00.000', '$DAY 09:30:00.000', 3, 1500, 1450.75, 221.3),
         (2, 2, 'KASA1', 'M01', 3, '$DAY 00:00:00.000', '$DAY 09:45:00.000', 1, 40, 40, 6.1),
         (3, 3, 'KASA1', 'M02', 3, '$DAY 00:00:00.000', '$DAY 08:15:00.000', 5, 2400, 2300, 350.8),
         (4, 3, 'KASA1', 'M02', 4, '$DAY 00:00:00.000', '$DAY 08:20:00.000', 1, 250, 250, 38.1),
         (5, 5, 'KASA1', 'M01', 3, '$TEN_AGO 00:00:00.000', '$TEN_AGO 10:00:00.000', 2, 6000, 6000, 915),
         (6, 2, 'KASA1', 'M01', 3, '$(d "-40 days") 00:00:00.000', '$(d "-40 days") 10:00:00.000', 1, 3600, 3600, 549);
INSERT INTO tbTaksit VALUES (1, 5, '$TEN_AGO 00:00:00.000', 1234.5), (2, 5, '$YESTERDAY 00:00:00.000', 2000),
                            (3, 6, '$(d "-2 days") 00:00:00.000', 1200);
INSERT INTO tbOdeme VALUES (1, 2, '$YESTERDAY 00:00:00.000', 500);
-- A prepaid order approved today, not delivered yet.
INSERT INTO tbAlisverisSiparis VALUES (1, 1, 0, '$DAY 00:00:00.000', '1');
COMMIT;
SQL
