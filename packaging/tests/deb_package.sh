#!/usr/bin/env bash
# Builds the Debian packages from the working tree, runs lintian on them and
# checks what they hold: every file with its mode and owner, the conffiles,
# the maintainer scripts, the library's soname and symbols, and that the
# filter looks for its files where the package puts them. Leaves the
# packages unpacked together in OUT_DIR/root for the printing test
# (deb_e2e.sh) and writes OUT_DIR/ok when everything passed.
#
# usage: deb_package.sh SOURCE_DIR OUT_DIR [BUILD_DIR]
#   BUILD_DIR  the build tree, left out of the package's sources when it
#              lies inside SOURCE_DIR
#
# Exits 77 (skipped) when the Debian packaging tools are missing.
set -uo pipefail
src=$(realpath "$1") out=$2 build=${3:-}

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in dpkg-buildpackage dh lintian dpkg-deb dpkg-architecture objdump strings; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (packaging/install-deps.sh)"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

rm -rf "$out"
mkdir -p "$out/debs"
out=$(realpath "$out")
if [ -n "$build" ]; then
  build=$(realpath -m "$build")
  case $build/ in "$src"/*) export VT_DEB_EXCLUDE=${build#"$src"/} ;; esac
fi

# ---- the build; the unit tests and the debug symbol packages are skipped ----
if ! DEB_BUILD_OPTIONS="nocheck noddebs" VT_DEB_WORKTREE=1 \
     bash "$src/packaging/build-deb.sh" "$out/debs" >"$out/build-deb.log" 2>&1; then
  tail -40 "$out/build-deb.log"
  echo "FAIL: the packages could not be built"
  exit 1
fi
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
packages="printer-driver-vantora vantora-orb-service libjpegcodec1 libjpegcodec-dev"
deb() { echo "$out/debs/${1}_${version}_$arch.deb"; }
for p in $packages; do
  [ -f "$(deb "$p")" ] || { echo "FAIL: no $(deb "$p") (version $version from CMakeLists.txt)"; exit 1; }
done
pass "built the four packages at version $version"

# ---- lintian: no error, and every warning overridden with its reason --------
debs=()
for p in $packages; do debs+=("$(deb "$p")"); done
if lintian --fail-on error,warning --no-tag-display-limit "${debs[@]}" >"$out/lintian.log" 2>&1; then
  pass "lintian: no errors or warnings"
else
  cat "$out/lintian.log"; fail "lintian reports errors or warnings"
fi

# ---- contents: PACKAGE MODE PATH [-> TARGET] --------------------------------
# orb-call's manual page when the tree has one, else the lintian override
# that says why there is none.
man_filter=(grep -v /usr/share/man/man1/orb-call.1)
[ -f "$src/helper/man/orb-call.1" ] && man_filter=(grep -v /usr/share/lintian/overrides/)
expected=$(sed "s#@MA@#$multiarch#; s#@V@#$version#" <<'LIST' | "${man_filter[@]}" | sort
printer-driver-vantora 644 /etc/vantora/Q610/FilterCustomize.plist
printer-driver-vantora 755 /usr/bin/vt-preview
printer-driver-vantora 755 /usr/lib/cups/filter/psToVTOrbPS
printer-driver-vantora 755 /usr/libexec/printer-driver-vantora/Q610Helper
printer-driver-vantora 644 /usr/share/doc/printer-driver-vantora/changelog.gz
printer-driver-vantora 644 /usr/share/doc/printer-driver-vantora/copyright
printer-driver-vantora 644 /usr/share/man/man1/vt-preview.1.gz
printer-driver-vantora 644 /usr/share/ppd/vantora/Q610.ppd
printer-driver-vantora 644 /usr/share/vantora/prelude.ps
vantora-orb-service 755 /usr/bin/orb-call
vantora-orb-service 644 /usr/lib/systemd/user/MacOrbServiceXPC.service
vantora-orb-service 644 /usr/lib/systemd/user/MacOrbServiceXPC.socket
vantora-orb-service 755 /usr/libexec/vantora-orb-service/MacOrbServiceXPC
vantora-orb-service 644 /usr/share/doc/vantora-orb-service/changelog.gz
vantora-orb-service 644 /usr/share/doc/vantora-orb-service/copyright
vantora-orb-service 644 /usr/share/man/man1/orb-call.1.gz
vantora-orb-service 644 /usr/share/lintian/overrides/vantora-orb-service
libjpegcodec1 777 /usr/lib/@MA@/libjpegcodec.so.1 -> libjpegcodec.so.@V@
libjpegcodec1 644 /usr/lib/@MA@/libjpegcodec.so.@V@
libjpegcodec1 644 /usr/share/doc/libjpegcodec1/changelog.gz
libjpegcodec1 644 /usr/share/doc/libjpegcodec1/copyright
libjpegcodec-dev 644 /usr/include/jpegcodec.h
libjpegcodec-dev 777 /usr/lib/@MA@/libjpegcodec.so -> libjpegcodec.so.1
libjpegcodec-dev 644 /usr/share/doc/libjpegcodec-dev/changelog.gz
libjpegcodec-dev 644 /usr/share/doc/libjpegcodec-dev/copyright
LIST
)
root=$out/root
mkdir -p "$root"
actual=$(for p in $packages; do
  dpkg-deb -x "$(deb "$p")" "$out/pkg-$p" && dpkg-deb -x "$(deb "$p")" "$root" || echo "cannot unpack $p"
  (cd "$out/pkg-$p" && find . -type f -printf "$p %m %p\n" -o -type l -printf "$p 777 %p -> %l\n" |
     sed 's# \./# /#')
done | sort)
if [ "$actual" = "$expected" ]; then
  pass "the packages hold exactly the expected $(wc -l <<<"$expected") files with their modes"
else
  fail "package contents differ (- expected, + packaged)"
  diff <(echo "$expected") <(echo "$actual")
fi
others=$(for p in $packages; do dpkg-deb -c "$(deb "$p")"; done | awk '$2 != "root/root"')
[ -z "$others" ] && pass "every file belongs to root" || { fail "files not owned by root"; echo "$others"; }

# ---- control data -----------------------------------------------------------
control() { dpkg-deb --ctrl-tarfile "$(deb "$1")" | tar -xOf - "./$2" 2>/dev/null; }
[ "$(control printer-driver-vantora conffiles)" = /etc/vantora/Q610/FilterCustomize.plist ] &&
  pass "the customisation file is the driver's conffile" ||
  fail "driver conffiles are '$(control printer-driver-vantora conffiles)'"
for p in vantora-orb-service libjpegcodec1 libjpegcodec-dev; do
  [ -z "$(control "$p" conffiles)" ] || fail "$p has conffiles"
done
# Nothing is registered by hand: CUPS finds the filter and the PPD itself, so
# the driver has no maintainer scripts, and dpkg alone removes its files.
scripts=$(dpkg-deb --ctrl-tarfile "$(deb printer-driver-vantora)" | tar -tf - |
          grep -E 'preinst|postinst|prerm|postrm')
[ -z "$scripts" ] && pass "the driver has no maintainer scripts" ||
  fail "the driver has maintainer scripts: $scripts"
lib=$out/pkg-libjpegcodec1/usr/lib/$multiarch/libjpegcodec.so.$version
soname=$(objdump -p "$lib" 2>/dev/null | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libjpegcodec.so.1 ] && pass "library soname $soname" || fail "library soname is '$soname'"
exported=$(objdump -T "$lib" | awk '$2 == "g" && $4 == ".text" { print $NF }' | sort)
listed=$(control libjpegcodec1 symbols | sed -n 's/^ \([^@]*\)@Base .*/\1/p' | sort)
[ -n "$listed" ] && [ "$exported" = "$listed" ] && pass "symbols file lists the exported functions" ||
  fail "exported functions '$exported', symbols file '$listed'"
control libjpegcodec1 shlibs | grep -q '^libjpegcodec 1 libjpegcodec1' ||
  fail "no shlibs entry for libjpegcodec 1"

# The filter was built to look where the package puts things.
filter=$out/pkg-printer-driver-vantora/usr/lib/cups/filter/psToVTOrbPS
# The strings go to a file first: grep -q stops reading at its match, and
# strings, cut off, would fail the pipeline.
strings "$filter" >"$out/filter.strings"
grep -qx '/etc/vantora/{model}/FilterCustomize.plist' "$out/filter.strings" ||
  fail "the filter does not read the customisation file under /etc/vantora"
grep -qx '/usr/libexec/printer-driver-vantora/Q610Helper' "$out/filter.strings" ||
  fail "the filter does not start the packaged Q610Helper"
grep -qx 'ExecStart=/usr/libexec/vantora-orb-service/MacOrbServiceXPC' \
  "$out/pkg-vantora-orb-service/usr/lib/systemd/user/MacOrbServiceXPC.service" ||
  fail "the service unit does not start the packaged MacOrbServiceXPC"
grep -q "^prelude=.*:-/usr/share/vantora/prelude.ps}" "$root/usr/bin/vt-preview" ||
  fail "vt-preview does not use the packaged prelude"

# ---- install, remove, purge with dpkg into an empty root of its own ----------
# The maintainer scripts leave a root other than / alone (DPKG_ROOT), so this
# checks what dpkg itself does with the packages' files: remove leaves only
# the conffile, purge nothing.
inst=$out/dpkg-root
mkdir -p "$inst/var/lib/dpkg/info" "$inst/var/lib/dpkg/updates"
: >"$inst/var/lib/dpkg/status"
: >"$inst/var/lib/dpkg/available"
dpkg_root() {
  dpkg --root="$inst" --force-script-chrootless --force-depends --force-not-root "$@" \
    >>"$out/dpkg-root.log" 2>&1
}
left() { (cd "$inst" && find . -mindepth 1 \( ! -type d -o -empty \) -print | grep -v '^\./var/lib/dpkg' | sort); }
if dpkg_root -i "${debs[@]}"; then
  [ "$(left | wc -l)" -eq "$(wc -l <<<"$expected")" ] && pass "dpkg installs every file" ||
    fail "dpkg installed $(left | wc -l) files, the packages hold $(wc -l <<<"$expected")"
  dpkg_root -r $packages || fail "dpkg -r failed"
  [ "$(left)" = ./etc/vantora/Q610/FilterCustomize.plist ] && pass "remove leaves only the conffile" ||
    { fail "remove leaves:"; left; }
  dpkg_root -P $packages || fail "dpkg -P failed"
  [ -z "$(left)" ] && pass "purge leaves nothing" || { fail "purge leaves:"; left; }
else
  cat "$out/dpkg-root.log"; fail "dpkg -i into an empty root failed"
fi

echo "$failures failed"
[ "$failures" -eq 0 ] && touch "$out/ok"
exit $((failures > 0))
