#!/usr/bin/env bash
# One demo run on the embedded database: a program database and one tenant with ERP data, the gateway
# simulator on loopback, one run of the program, then the run log and the queue rows' final states.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
DEMO="$BUILD/demo"

# A day the program works on (never 1 January), at 10:00 so the scheduled campaigns fire.
DAY=$(date +%F)
if [ "$(date +%m-%d)" = "01-01" ]; then DAY=$(date -d tomorrow +%F); fi

rm -rf "$DEMO"
mkdir -p "$DEMO"
# The schema names the program's text collations: the files are made with sqlite3 that knows them.
SQLITE="$BUILD/tools/velmora-sqlite"
"$SQLITE" "$DEMO/program.db" < "$ROOT/tools/schema/program.sqlite.sql"
"$SQLITE" "$DEMO/tenant.db" < "$ROOT/tools/schema/tenant.sqlite.sql"
bash "$ROOT/tools/demo/tenant-seed.sh" "$DAY" | "$SQLITE" "$DEMO/tenant.db"
"$SQLITE" "$DEMO/program.db" "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif)
  VALUES ('sqlite:$DEMO/tenant.db', 'sa', '', 'DemoMagaza', 1);"

# The gateway simulator, on a free loopback port; it ends by itself after two minutes at the latest.
"$BUILD/tools/velmora-gatewaysim" --port 0 --account demo:secret --seconds 120 \
  --send-decision '05329999999:-4:Numara kara listede' > "$DEMO/simulator.out" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  grep -q "listening on" "$DEMO/simulator.out" 2>/dev/null && break
  sleep 0.1
done
HOST=$(sed -n 's/.*listening on \([0-9.:]*\).*/\1/p' "$DEMO/simulator.out" | head -n 1)
[ -n "$HOST" ] || { echo "the gateway simulator did not start:"; cat "$DEMO/simulator.out"; exit 1; }

# The program with Settings.xml beside it, as it is deployed.
mkdir -p "$DEMO/bin"
cp "$BUILD/driver/velmora" "$DEMO/bin/velmora"
cat > "$DEMO/bin/Settings.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<Ayarlar>
  <VeriTabani>
    <Provider>SQLOLEDB.1</Provider>
    <Sunucu>sqlite:$DEMO/program.db</Sunucu>
    <KullaniciAdi>sa</KullaniciAdi>
    <Parola></Parola>
    <VeriTabaniAdi>VelmoraProgram</VeriTabaniAdi>
  </VeriTabani>
  <SMSServisi>
    <Sunucu>$HOST</Sunucu>
  </SMSServisi>
</Ayarlar>
XML

echo "Run of $DAY 10:00 against the gateway simulator at $HOST"
VELMORA_NOW="$DAY 10:00:00" VELMORA_LOG_FILE="$DEMO/Velmora.log" VELMORA_LOCK_FILE="$DEMO/velmora.lock" \
  "$DEMO/bin/velmora"
echo "exit status: $?"
echo
echo "Run log: $DEMO/Velmora.log (Windows-1254, CRLF):"
iconv -f WINDOWS-1254 -t UTF-8 "$DEMO/Velmora.log" | sed 's/\r$//; s/^/  | /'
echo
echo "Queue rows in $DEMO/tenant.db (durum: 0 pending, 1 sent, 2 refused, 3 report received):"
"$SQLITE" "$DEMO/tenant.db" \
  "SELECT id, mesaj_grubu AS grup, gsm, durum, rapor_id, aciklama, mesaj FROM tbNuvoListe ORDER BY id;"
