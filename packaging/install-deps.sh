#!/usr/bin/env bash
# Installs, from the Debian archive, whatever the build, the demo and the tests
# need and this machine lacks. Safe to run again; does nothing when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  libcups2-dev libsnmp-dev libplist-dev libutf8proc-dev
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  libjpeg62-turbo-dev libturbojpeg0-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
  cups cups-client cups-filters cups-bsd
  snmpd snmp iproute2 iputils-ping
  ghostscript poppler-utils imagemagick libtasn1-doc time
  debhelper dpkg-dev fakeroot lintian
  libpappl-dev cups-ipp-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing; run as root to install them: ${missing[*]}" >&2
  exit 1
fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync fails one index now and then; try again,
# and go on with what was fetched: the install below says if anything is
# really missing.
for attempt in 1 2 3; do
  apt-get update -qq && break
  echo "install-deps: apt-get update failed (attempt $attempt)" >&2
  sleep $((attempt * 10))
done
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
