# The filter's one-pass job against CUPS's pstops on a ~100 MB real document:
#   cmake --build <dir> --target bench_linepass
vt_add_filter_bench(linepass linepass.sh psToVTOrbPS "psToVTOrbPS against pstops")
