#!/usr/bin/env bash
# Installs the Debian packages the build, tests, tools and benchmarks need, when
# missing; with arguments, those packages instead.
set -euo pipefail
if [ $# -gt 0 ]; then
  packages=("$@")
else
  packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
            libcrypto++-dev libssl-dev nlohmann-json3-dev libcli11-dev)
  # The Java binding and its JVM tests: a JDK and JUnit 5's console launcher.
  packages+=(default-jdk-headless junit5)
  # The PostgreSQL extension (contrib/postgres): server, PGXS headers, libpq.
  packages+=(postgresql-15 postgresql-server-dev-15 libpq-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
