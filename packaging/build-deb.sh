#!/usr/bin/env bash
# Builds the Debian packages of this tree:
#
#   packaging/build-deb.sh [OUTDIR]
#
# dpkg-buildpackage wants debian/ at the top of the source tree, so the
# sources are exported (the committed tree with `git archive`, or a plain
# copy of the working tree when it is not a git checkout or
# VT_DEB_WORKTREE=1) to a temporary folder, packaging/debian is copied to
# debian/ there, and `dpkg-buildpackage -us -uc -b` runs in it. The .deb
# files and the .buildinfo/.changes land in OUTDIR (default: build-deb/).
# DEB_BUILD_OPTIONS passes through (nocheck skips the unit tests, parallel=N).
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$src/build-deb}
mkdir -p "$out"
out=$(cd "$out" && pwd)

for tool in dpkg-buildpackage dh; do
  command -v "$tool" >/dev/null ||
    { echo "build-deb: $tool is missing; run packaging/install-deps.sh" >&2; exit 1; }
done

# The export lives at the same place on every run (OUTDIR/.work), so a
# compiler cache (CMAKE_CXX_COMPILER_LAUNCHER=ccache in the environment) finds
# the previous build's objects.
work=$out/.work
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
tree=$work/printer-driver-vantora
mkdir -p "$tree"

if [ "${VT_DEB_WORKTREE:-0}" != 1 ] && git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$src" archive --format=tar HEAD | tar -x -C "$tree"
else
  # Build trees (build*/, or VT_DEB_EXCLUDE relative to the top) stay out.
  tar -C "$src" --exclude=./.git --exclude='./build*' --exclude=./out \
      ${VT_DEB_EXCLUDE:+--exclude="./$VT_DEB_EXCLUDE"} -cf - . | tar -x -C "$tree"
fi
rm -rf "$tree/debian"
cp -a "$tree/packaging/debian" "$tree/debian"

# The package's version is the project's: the newest changelog entry must
# carry the version CMakeLists.txt declares.
project=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$tree/CMakeLists.txt")
changelog=$(cd "$tree" && dpkg-parsechangelog -S Version)
if [ "$project" != "$changelog" ]; then
  echo "build-deb: debian/changelog is at $changelog, CMakeLists.txt at $project;" \
       "add a changelog entry (dch -v $project)" >&2
  exit 1
fi

if [ -z "${DEB_BUILD_OPTIONS:-}" ] || ! grep -q 'parallel=' <<<"$DEB_BUILD_OPTIONS"; then
  export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-} parallel=$(nproc)"
fi
(cd "$tree" && dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 || {
  tail -60 "$work/build.log" >&2
  echo "build-deb: dpkg-buildpackage failed" >&2
  exit 1
}
cp "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/
cp "$work/build.log" "$out/build.log"
ls "$out"/*.deb
