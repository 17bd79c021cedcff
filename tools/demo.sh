#!/usr/bin/env bash
# One demo run on the embedded database: a program database and one tenant with ERP data, the gateway
# simulator on loopback, one run of the program, then the run log and the queue rows' final states.
#   bash tools/demo.sh [BUILD_DIR] [--sqlserver]
# --sqlserver serves both databases through the SQL Server simulator, so the program reaches them over
# TDS with the FreeTDS ODBC driver, as it reaches a real server.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_ARG="" SQLSERVER=0
for arg in "$@"; do
  case "$arg" in
    --sqlserver) SQLSERVER=1 ;;
    *) BUILD_ARG=$arg ;;
  esac
done
BUILD=$(cd "${BUILD_ARG:-$ROOT/build}" && pwd)
DEMO="$BUILD/demo"

# A day the program works on (never 1 January), at 10:00 so the scheduled campaigns fire.
DAY=$(date +%F)
if [ "$(date +%m-%d)" = "01-01" ]; then DAY=$(date -d tomorrow +%F); fi

rm -rf "$DEMO"
mkdir -p "$DEMO"
sqlite3 "$DEMO/program.db" < "$ROOT/tools/schema/program.sqlite.sql"
sqlite3 "$DEMO/tenant.db" < "$ROOT/tools/schema/tenant.sqlite.sql"
bash "$ROOT/tools/demo/tenant-seed.sh" "$DAY" | sqlite3 "$DEMO/tenant.db"
PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

# Waits for a simulator's "listening on" line and prints the address after it.
listening() {
  for _ in $(seq 1 50); do
    grep -q "listening on" "$1" 2>/dev/null && break
    sleep 0.1
  done
  sed -n 's/.*listening on \([0-9.:,]*\).*/\1/p' "$1" | head -n 1
}

if [ "$SQLSERVER" = 1 ]; then
  # The SQL Server simulator serves the two files as the databases VelmoraProgram and DemoMagaza.
  "$BUILD/tools/velmora-sqlserversim" --port 0 --login 'sa:Demo;Parola}' --seconds 120 \
    --database "VelmoraProgram=$DEMO/program.db" --database "DemoMagaza=$DEMO/tenant.db" > "$DEMO/sqlserver.out" 2>&1 &
  PIDS+=($!)
  DBSERVER=$(listening "$DEMO/sqlserver.out")
  [ -n "$DBSERVER" ] || { echo "the SQL Server simulator did not start:"; cat "$DEMO/sqlserver.out"; exit 1; }
  PROGRAM_SERVER=$DBSERVER TENANT_SERVER=$DBSERVER DBUSER=sa DBPASSWORD='Demo;Parola}'
else
  PROGRAM_SERVER="sqlite:$DEMO/program.db" TENANT_SERVER="sqlite:$DEMO/tenant.db" DBUSER=sa DBPASSWORD=''
fi
sqlite3 "$DEMO/program.db" "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif)
  VALUES ('$TENANT_SERVER', '$DBUSER', '$DBPASSWORD', 'DemoMagaza', 1);"

# The gateway simulator, on a free loopback port; it ends by itself after two minutes at the latest.
"$BUILD/tools/velmora-gatewaysim" --port 0 --account demo:secret --seconds 120 \
  --send-decision '05329999999:-4:Numara kara listede' > "$DEMO/simulator.out" 2>&1 &
PIDS+=($!)
HOST=$(listening "$DEMO/simulator.out")
[ -n "$HOST" ] || { echo "the gateway simulator did not start:"; cat "$DEMO/simulator.out"; exit 1; }

# The program with Settings.xml beside it, as it is deployed.
mkdir -p "$DEMO/bin"
cp "$BUILD/driver/velmora" "$DEMO/bin/velmora"
cat > "$DEMO/bin/Settings.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<Ayarlar>
  <VeriTabani>
    <Provider>SQLOLEDB.1</Provider>
    <Sunucu>$PROGRAM_SERVER</Sunucu>
    <KullaniciAdi>$DBUSER</KullaniciAdi>
    <Parola>$DBPASSWORD</Parola>
    <VeriTabaniAdi>VelmoraProgram</VeriTabaniAdi>
  </VeriTabani>
  <SMSServisi>
    <Sunucu>$HOST</Sunucu>
  </SMSServisi>
</Ayarlar>
XML

if [ "$SQLSERVER" = 1 ]; then
  echo "Run of $DAY 10:00 against the gateway simulator at $HOST, databases through the SQL Server simulator at $DBSERVER"
else
  echo "Run of $DAY 10:00 against the gateway simulator at $HOST"
fi
VELMORA_NOW="$DAY 10:00:00" VELMORA_LOG_FILE="$DEMO/Velmora.log" VELMORA_LOCK_FILE="$DEMO/velmora.lock" \
  "$DEMO/bin/velmora"
echo "exit status: $?"
echo
echo "Run log: $DEMO/Velmora.log (Windows-1254, CRLF):"
iconv -f WINDOWS-1254 -t UTF-8 "$DEMO/Velmora.log" | sed 's/\r$//; s/^/  | /'
echo
echo "Queue rows in $DEMO/tenant.db (durum: 0 pending, 1 sent, 2 refused, 3 report received):"
sqlite3 -header -column "$DEMO/tenant.db" \
  "SELECT id, mesaj_grubu AS grup, gsm, durum, rapor_id, aciklama, mesaj FROM tbNuvoListe ORDER BY id;"
