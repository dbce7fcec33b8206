#!/bin/sh
# Runs the Windows test program under wine against a built DLL, then has the
# Linux library encode the same rasters and compares the streams.
# usage: run-wine-test.sh WINE-LOADER PREFIX-DIR EXE DLL OUTDIR COMPARE-PROGRAM
# Exits 77 (skipped) when this host cannot run the loader at all, e.g. a
# kernel without 32-bit emulation for the 32-bit loader.
set -eu
loader=$1 prefix=$2 exe=$3 dll=$4 out=$5 compare=$6
if [ ! -x "$loader" ]; then
  echo "no wine loader $loader"
  exit 77
fi
if ! "$loader" --version >/dev/null 2>&1; then
  echo "this host cannot run $loader"
  exit 77
fi
mkdir -p "$prefix" "$out"
rm -f "$out"/case-*
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The first start creates the prefix; give it its own step.
if [ ! -f "$prefix/system.reg" ]; then
  "$loader" wineboot --init >/dev/null 2>&1 || true
fi
"$loader" "$exe" "$dll" "$out"
exec "$compare" "$out"
