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
# The schema names the program's text collations: the files are made with a sqlite3 that knows them.
SQLITE="$BUILD/tools/velmora-sqlite"
"$SQLITE" "$DEMO/program.db" < "$ROOT/tools/schema/program.sqlite.sql"
"$SQLITE" "$DEMO/tenant.db" < "$ROOT/tools/schema/tenant.sqlite.sql"
bash "$ROOT/tools/demo/tenant-seed.sh" "$DAY" | "$SQLITE" "$DEMO/tenant.db"
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
"$SQLITE" "$DEMO/program.db" "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif)
  VALUES ('$TENANT_SERVER', '$DBUSER', '$DBPASSWORD', 'DemoMagaza', 1);"

# The gateway simulator, on a free loopback port; it ends by itself after two minutes at the latest.
# Arguments are added to its command line (a second one answers reports with "PND").
start_simulator() {
  local out="$DEMO/simulator$((${#PIDS[@]} + 1)).out"
  "$BUILD/tools/velmora-gatewaysim" --port 0 --account demo:secret --seconds 120 \
    --send-decision '05329999999:-4:Numara kara listede' "$@" > "$out" 2>&1 &
  PIDS+=($!)
  HOST=$(listening "$out")
  [ -n "$HOST" ] || { echo "the gateway simulator did not start:"; cat "$out"; exit 1; }
}
start_simulator

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

# One run at the given time of the demo day, then its log: an empty line means nothing failed.
run_at() {
  if [ "$SQLSERVER" = 1 ]; then
    echo "Run of $DAY $1 against the gateway simulator at $HOST, databases through the SQL Server simulator at $DBSERVER"
  else
    echo "Run of $DAY $1 against the gateway simulator at $HOST"
  fi
  VELMORA_NOW="$DAY $1" VELMORA_LOG_FILE="$DEMO/Velmora.log" VELMORA_LOCK_FILE="$DEMO/velmora.lock" \
    "$DEMO/bin/velmora"
  echo "exit status: $? (the run log and the queue tell how it went)"
  echo "Run log: $DEMO/Velmora.log (Windows-1254, CRLF):"
  iconv -f WINDOWS-1254 -t UTF-8 "$DEMO/Velmora.log" | sed 's/\r$//; s/^/  | /'
  if [ "$(tr -d '\r\n' < "$DEMO/Velmora.log")" = "" ]; then
    echo "  (one empty line: the generation phase and every tenant's sending and reporting went without failure)"
  fi
}

# One statement on the tenant file; --no-header leaves out the line of column names.
tenant_sql() {
  if [ "$1" = --no-header ]; then "$SQLITE" --no-header "$DEMO/tenant.db" "$2"; else "$SQLITE" "$DEMO/tenant.db" "$1"; fi
}

# The queue per state, as velmora-status also shows it.
state_counts() {
  echo "Queue rows per state:"
  tenant_sql --no-header "SELECT '  durum ' || durum || ' (' || CASE durum WHEN 0 THEN 'pending'
    WHEN 1 THEN 'sent, awaiting its report' WHEN 2 THEN 'refused' WHEN 3 THEN 'report received' END || '): ' || COUNT(*)
    FROM tbNuvoListe GROUP BY durum ORDER BY durum;"
}

run_at 10:00:00
echo
echo "Queue rows in $DEMO/tenant.db (durum: 0 pending, 1 sent, 2 refused, 3 report received):"
tenant_sql \
  "SELECT id, mesaj_grubu AS grup, gsm, durum, rapor_id, aciklama, mesaj FROM tbNuvoListe ORDER BY id;"
state_counts

echo
echo "==== A second run the same day, at 10:30: the daily campaigns ran at 10:00 (tbNuvoSonKontrol), the"
echo "==== purchases and the prepaid order are recorded, no summary or custom query is due: nothing is repeated."
before=$(tenant_sql --no-header "SELECT COUNT(*) FROM tbNuvoListe;")
run_at 10:30:00
echo "Queue rows: $before before the run, $(tenant_sql --no-header "SELECT COUNT(*) FROM tbNuvoListe;") after it."

echo
echo "==== A gateway whose delivery report is not formed yet: it answers \"PND\" for the message added now."
tenant_sql "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, sms_sayisi, kayit_tarihi)
  VALUES (1, '05321112233', 'Raporu henüz oluşmamış bir mesaj.', 0, 1, 1, '$DAY 10:40:00.000');"
start_simulator --default-status PND
sed -i "s|<Sunucu>[0-9.:]*</Sunucu>|<Sunucu>$HOST</Sunucu>|" "$DEMO/bin/Settings.xml"
run_at 10:45:00
tenant_sql \
  "SELECT id, mesaj_grubu AS grup, gsm, durum, rapor_id, aciklama FROM tbNuvoListe ORDER BY id DESC LIMIT 1;"
echo "The answer \"PND\" is recorded as state 3 with \"Henüz raporu oluşmadı.\" and is not asked about again."
state_counts
echo
echo "The same per tenant, with the oldest pending row and the schedule stamps:"
"$BUILD/driver/velmora-status" --settings "$DEMO/bin/Settings.xml" | sed 's/^/  /'
