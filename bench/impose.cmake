# A 4-up job re-imposed from the spool file against CUPS's pstops doing
# number-up=4 on a ~100 MB real document:
#   cmake --build <dir> --target bench_impose
vt_add_filter_bench(impose impose.sh psToVTOrbPS_testpaths
                    "4-up imposition against pstops number-up=4")
