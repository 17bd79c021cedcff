#!/usr/bin/env bash
# Installs the Debian package from a build directory and checks it as an operator would: what went where
# with which owner and mode, the systemd units (systemd-analyze verify), one run as the velmora user against
# an embedded demo database and the gateway simulator, the status tool; then purges it again.
# Usage: tools/linux/package-test.sh [build directory, default build]  (root or sudo; changes the machine)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
fail() { echo "package test: $*" >&2; exit 1; }
mode_owner() { stat -c '%a %U:%G' "$1"; }

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/velmora_*_amd64.deb | head -n 1)
echo "package: $deb ($(stat -c %s "$deb") bytes)"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >/dev/null
trap '$SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y velmora >/dev/null 2>&1 || true' EXIT

# What the package put where.
getent passwd velmora >/dev/null || fail "no system user velmora"
[ "$(id -u velmora)" -lt 1000 ] || fail "velmora is not a system user"
[ "$(mode_owner /var/log/velmora)" = "700 velmora:velmora" ] || fail "/var/log/velmora: $(mode_owner /var/log/velmora)"
[ "$(mode_owner /var/lib/velmora)" = "700 velmora:velmora" ] || fail "/var/lib/velmora: $(mode_owner /var/lib/velmora)"
[ "$(mode_owner /etc/velmora/Settings.xml)" = "640 root:velmora" ] || fail "Settings.xml: $(mode_owner /etc/velmora/Settings.xml)"
[ "$(readlink /usr/lib/velmora/Settings.xml)" = "/etc/velmora/Settings.xml" ] || fail "Settings.xml link"
for f in /usr/lib/velmora/velmora /usr/lib/velmora/velmora-status /usr/bin/velmora-status \
         /usr/share/velmora/sql/install-tenant.mssql.sql /usr/share/velmora/sql/grants.mssql.sql \
         /usr/share/doc/velmora/operating.md /lib/systemd/system/velmora.timer; do
  [ -e "$f" ] || fail "missing $f"
done
if file /usr/lib/velmora/velmora | grep -q "not stripped"; then fail "the program is not stripped"; fi
grep -q '^AccuracySec=1s$' /lib/systemd/system/velmora.timer || fail "the timer lacks AccuracySec=1s"

# The units, where systemd's analyzer is installed.
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /lib/systemd/system/velmora.service /lib/systemd/system/velmora.timer
  echo "units verified"
else
  echo "systemd-analyze not installed: units not verified"
fi

# One run as the service runs it: the velmora user, the lock in its state directory, the package's settings link.
demo=/var/lib/velmora/paket-deneme
$SUDO install -d -m 0700 -o velmora -g velmora "$demo"
tmp=$(mktemp -d)
# The schema names the program's text collations, which plain sqlite3 does not know.
sqlite3() { "$build/tools/velmora-sqlite" "$@"; }
sqlite3 "$tmp/program.db" < "$root/tools/schema/program.sqlite.sql"
sqlite3 "$tmp/tenant.db" < "$root/tools/schema/tenant.sqlite.sql"
sqlite3 "$tmp/tenant.db" "INSERT INTO tbNuvoSMSAyarlari (kullanici_adi, parola) VALUES ('demo', 'secret');
  INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, sms_sayisi, kayit_tarihi)
  VALUES (1, '05321112233', 'Paket denemesi', 0, 1, 1, '2026-06-15 10:00:00.000');"
sqlite3 "$tmp/program.db" "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif)
  VALUES ('sqlite:$demo/tenant.db', 'sa', '', 'PaketDeneme', 1);"
$SUDO install -m 0600 -o velmora -g velmora "$tmp/program.db" "$tmp/tenant.db" "$demo/"
/usr/lib/velmora/velmora-gatewaysim --port 0 --account demo:secret --seconds 60 > "$tmp/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -rf "$tmp"; $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y velmora >/dev/null 2>&1 || true' EXIT
for _ in $(seq 1 50); do grep -q "listening on" "$tmp/sim.out" && break; sleep 0.1; done
host=$(sed -n 's/.*listening on \([0-9.:]*\).*/\1/p' "$tmp/sim.out" | head -n 1)
[ -n "$host" ] || fail "the simulator did not start"
$SUDO tee /etc/velmora/Settings.xml >/dev/null <<XML
<Ayarlar><VeriTabani><Sunucu>sqlite:$demo/program.db</Sunucu></VeriTabani>
<SMSServisi><Sunucu>$host</Sunucu></SMSServisi></Ayarlar>
XML
$SUDO runuser -u velmora -- sh -c 'umask 0077; exec env VELMORA_LOCK_FILE=/var/lib/velmora/velmora.lock \
  VELMORA_NOW="2026-06-15 10:30:00" /usr/lib/velmora/velmora'
# The log's folder is owner-only; the file itself is the service user's and writable by it alone.
case "$(mode_owner /var/log/velmora/Velmora.log)" in
  "600 velmora:velmora"|"640 velmora:velmora"|"644 velmora:velmora") ;;
  *) fail "run log: $(mode_owner /var/log/velmora/Velmora.log 2>&1)" ;;
esac
[ "$($SUDO cat /var/log/velmora/Velmora.log)" = $'\r' ] || fail "the run logged: $($SUDO cat /var/log/velmora/Velmora.log)"
state=$($SUDO "$build/tools/velmora-sqlite" --no-header "$demo/tenant.db" "SELECT durum FROM tbNuvoListe;")
[ "$state" = "3" ] || fail "the queued row ended in state $state, not 3"
$SUDO runuser -u velmora -- velmora-status | grep -q "PaketDeneme .*erişilebilir" || fail "velmora-status"
echo "package test passed: installed, one run sent and reported the row, the status tool read it"
