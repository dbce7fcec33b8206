# A booklet and a "2x2" poster job against CUPS's pstops doing number-up=2 on
# a ~100 MB real document:
#   cmake --build <dir> --target bench_booklet_poster
if(TARGET psToVTOrbPS_testpaths)
  add_custom_target(bench_booklet_poster
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/booklet_poster.sh $<TARGET_FILE:psToVTOrbPS_testpaths> 100 5
    DEPENDS psToVTOrbPS_testpaths
    USES_TERMINAL
    COMMENT "Booklet and poster imposition against pstops number-up=2")
endif()
