#!/usr/bin/env bash
# Installs the build tree into a temporary DESTDIR with prefix /usr and
# checks that exactly the system's files land there, with the right modes,
# and that cupstestppd accepts the installed PPD with the installed filter.
#
# usage: install_layout.sh BUILD_DIR VT_ROOT HAS_FILTER HAS_SERVICE HAS_ORBCALL
#                          HAS_HELPER HAS_JPEG HAS_CUSTOMIZE SYSTEMD_DIR
#                          CUSTOMIZE_FILE HELPER_PATH PPD_DIR SERVICE_DIR
#                          PROJECT_VERSION
# (each HAS_ is 1 when that piece exists in the tree, 0 otherwise; the
# paths are the build's options, the fixed ones already under VT_ROOT)
set -uo pipefail
build=$1 vtroot=$2 has_filter=$3 has_service=$4 has_orbcall=$5
has_helper=$6 has_jpeg=$7 has_customize=$8 systemd_dir=$9
customize=${10} helper=${11} ppd=/usr/${12}/Q610.ppd service_dir=/usr/${13} version=${14}

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
  echo "$ppd"
  echo "/usr/bin/vt-preview"
  echo "/usr/share/vantora/prelude.ps"
  [ "$has_filter" = 1 ] && echo "/usr/lib/cups/filter/psToVTOrbPS"
  [ "$has_customize" = 1 ] && echo "$customize"
  if [ "$has_service" = 1 ]; then
    echo "$service_dir/MacOrbServiceXPC"
    for unit in "$systemd_dir"/*.service "$systemd_dir"/*.socket; do
      [ -e "$unit" ] && echo "/usr/lib/systemd/user/$(basename "$unit")"
    done
  fi
  [ "$has_orbcall" = 1 ] && echo "/usr/bin/orb-call"
  [ "$has_orbcall" = 1 ] && echo "/usr/share/man/man1/orb-call.1"
  [ "$has_helper" = 1 ] && echo "$helper"
  if [ "$has_jpeg" = 1 ]; then
    echo "/usr/lib/libjpegcodec.so"
    echo "/usr/lib/libjpegcodec.so.${version%%.*}"
    echo "/usr/lib/libjpegcodec.so.$version"
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
mode_is "$ppd" 644
mode_is /usr/bin/vt-preview 755
[ "$has_customize" = 1 ] && mode_is "$customize" 644
[ "$has_helper" = 1 ] && mode_is "$helper" 755
if [ "$has_jpeg" = 1 ]; then
  [ "$(readlink "$dest/usr/lib/libjpegcodec.so")" = "libjpegcodec.so.${version%%.*}" ] ||
    fail "libjpegcodec.so does not link to the library's soname"
fi

# The installed vt-preview uses the installed prelude, not the source tree's.
grep -q '^prelude=.*:-/usr/share/vantora/prelude.ps}$' "$dest/usr/bin/vt-preview" ||
  fail "the installed vt-preview does not use /usr/share/vantora/prelude.ps"

# cupstestppd with the install tree as its root finds the filter that
# *cupsFilter2 names under /usr/lib/cups/filter.
if command -v cupstestppd >/dev/null; then
  ignore=()
  [ "$has_filter" = 1 ] || ignore=(-I filters)
  if cupstestppd -W all -R "$dest" "${ignore[@]}" "$dest$ppd" >"$tmp/testppd.log" 2>&1; then
    echo "ok: cupstestppd passes the installed PPD"
  else
    cat "$tmp/testppd.log"; fail "cupstestppd rejects the installed PPD"
  fi
  # And it does notice a PPD whose filter is missing, so the pass above means
  # something.
  rm -f "$dest/usr/lib/cups/filter/psToVTOrbPS"
  if cupstestppd -R "$dest" "$dest$ppd" >/dev/null 2>&1; then
    fail "cupstestppd did not notice the missing filter"
  fi
else
  fail "cupstestppd is not installed (Debian package cups)"
fi

echo "$failures failed"
exit $((failures > 0))
