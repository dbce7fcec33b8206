# A booklet and a "2x2" poster job against CUPS's pstops doing number-up=2 on
# a ~100 MB real document:
#   cmake --build <dir> --target bench_booklet_poster
vt_add_filter_bench(booklet_poster booklet_poster.sh psToVTOrbPS_testpaths
                    "Booklet and poster imposition against pstops number-up=2")
