#!/usr/bin/env bash
# Installs what Velmora needs to build, test and run its demo on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  g++ cmake make pkg-config ca-certificates \
  libsqlite3-dev sqlite3 \
  libpugixml-dev \
  libcurl4-openssl-dev \
  unixodbc unixodbc-dev tdsodbc libsqliteodbc \
  libcpp-httplib-dev \
  libgtest-dev libgmock-dev libbenchmark-dev
# The SQL Server route of the tests uses the FreeTDS ODBC driver under the name "FreeTDS".
if ! odbcinst -q -d -n FreeTDS >/dev/null 2>&1; then
  $SUDO odbcinst -i -d -f /usr/share/tdsodbc/odbcinst.ini
fi
