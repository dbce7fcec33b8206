#!/usr/bin/env bash
# Installs the build tree into a temporary DESTDIR with prefix /usr and
# checks that exactly the system's files land there, with the right modes,
# and that cupstestppd accepts the installed PPD with the installed filter.
#
# usage: install_layout.sh BUILD_DIR VT_ROOT HAS_FILTER HAS_SERVICE HAS_ORBCALL
#                          HAS_HELPER HAS_JPEG HAS_CUSTOMIZE SYSTEMD_DIR
# (each HAS_ is 1 when that piece exists in the tree, 0 otherwise)
set -uo pipefail
build=$1 vtroot=$2 has_filter=$3 has_service=$4 has_orbcall=$5
has_helper=$6 has_jpeg=$7 has_customize=$8 systemd_dir=$9

tmp=$(mktemp -d /tmp/vt-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

dest=$tmp/dest
if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"; echo "FAIL: cmake --install"; exit 1
fi

expected=$tmp/expected
{
  echo "/usr/share/cups/model/vantora/Q610.ppd"
  [ "$has_filter" = 1 ] && echo "/usr/lib/cups/filter/psToVTOrbPS"
  [ "$has_customize" = 1 ] && echo "$vtroot/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist"
  if [ "$has_service" = 1 ]; then
    echo "/usr/bin/MacOrbServiceXPC"
    for unit in "$systemd_dir"/*.service "$systemd_dir"/*.socket; do
      [ -e "$unit" ] && echo "/usr/lib/systemd/user/$(basename "$unit")"
    done
  fi
  [ "$has_orbcall" = 1 ] && echo "/usr/bin/orb-call"
  [ "$has_orbcall" = 1 ] && echo "/usr/share/man/man1/orb-call.1"
  [ "$has_helper" = 1 ] && echo "$vtroot/Library/Application Support/VANTORA/Q610/Helpers/Q610Helper.app/Contents/MacOS/Q610Helper"
  if [ "$has_jpeg" = 1 ]; then
    echo "/usr/lib/libjpegcodec.so"
    echo "/usr/include/jpegcodec.h"
  fi
} | sed 's#//*#/#g' | sort > "$expected"
(cd "$dest" && find . \( -type f -o -type l \) -print | sed 's#^\.##' | sort) > "$tmp/actual"
if ! diff -u "$expected" "$tmp/actual"; then
  fail "installed files differ from the expected list (- expected, + installed)"
else
  echo "ok: installed exactly $(wc -l < "$expected") files"
fi

mode_is() {  # path mode
  local m
  m=$(stat -c %a "$dest$1" 2>/dev/null) || { fail "$1 missing"; return; }
  [ "$m" = "$2" ] || fail "$1 has mode $m, expected $2"
}
[ "$has_filter" = 1 ] && mode_is /usr/lib/cups/filter/psToVTOrbPS 755
mode_is /usr/share/cups/model/vantora/Q610.ppd 644
[ "$has_customize" = 1 ] && mode_is "$vtroot/Library/Printers/VANTORA/Q610/Plist/FilterCustomize.plist" 644

# cupstestppd with the install tree as its root finds the filter that
# *cupsFilter2 names under /usr/lib/cups/filter.
if command -v cupstestppd >/dev/null; then
  ignore=()
  [ "$has_filter" = 1 ] || ignore=(-I filters)
  if cupstestppd -W all -R "$dest" "${ignore[@]}" "$dest/usr/share/cups/model/vantora/Q610.ppd" >"$tmp/testppd.log" 2>&1; then
    echo "ok: cupstestppd passes the installed PPD"
  else
    cat "$tmp/testppd.log"; fail "cupstestppd rejects the installed PPD"
  fi
  # And it does notice a PPD whose filter is missing, so the pass above means
  # something.
  rm -f "$dest/usr/lib/cups/filter/psToVTOrbPS"
  if cupstestppd -R "$dest" "$dest/usr/share/cups/model/vantora/Q610.ppd" >/dev/null 2>&1; then
    fail "cupstestppd did not notice the missing filter"
  fi
else
  fail "cupstestppd is not installed (Debian package cups)"
fi

echo "$failures failed"
exit $((failures > 0))
