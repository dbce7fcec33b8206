#!/usr/bin/env bash
# Installs what is missing, builds, and prints the bundled sample document
# through the filter with the bundled PPD and customisation file. The print
# stream the printer would receive is written to out/sample.prn.
set -euo pipefail
cd "$(dirname "$0")"
bash packaging/install-deps.sh

out=$PWD/out
root=$out/demo-root          # stands in for / : holds /Library/Printers/...
spool=$out/demo-spool        # stands in for the CUPS temporary folder
mkdir -p "$out" "$spool" "$root/Library/Printers/VANTORA/Q610/Plist"
if [ -f examples/FilterCustomize.plist ]; then
  cp examples/FilterCustomize.plist "$root/Library/Printers/VANTORA/Q610/Plist/"
fi

cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_BUILD_TESTS=OFF \
      -DVT_ROOT="$root" -DVT_SPOOL_DIR="$spool" >/dev/null
cmake --build build-demo -j"$(nproc)" >/dev/null

options=${VT_DEMO_OPTIONS:-"VTCollate=True OutputMethod=Normal jp.vantora.printers.loginName=demo com.apple.print.JobInfo.PMJobName='Sample document' JimonTextSet=True JimonCharacter=CONFIDENTIAL"}
PPD=examples/sample.ppd ./build-demo/bin/psToVTOrbPS 42 "$(id -un)" "Sample document" 1 \
    "$options" examples/sample.ps > "$out/sample.prn"

echo "Print stream written to $out/sample.prn ($(wc -c < "$out/sample.prn") bytes). Its PJL header:"
grep -a '^@PJL\|%-12345X' "$out/sample.prn" | cat -v | head -40

# What the printer would put on paper: every sheet side rendered by
# Ghostscript (with a stand-in for the printer's resident procedures) and a
# contact sheet of all of them.
./build-demo/bin/vt-preview "$out/sample.prn" "$out/sheets"
