# A 4-up job re-imposed from the spool file against CUPS's pstops doing
# number-up=4 on a ~100 MB real document:
#   cmake --build <dir> --target bench_impose
if(TARGET psToVTOrbPS_testpaths)
  add_custom_target(bench_impose
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/impose.sh $<TARGET_FILE:psToVTOrbPS_testpaths> 100 5
    DEPENDS psToVTOrbPS_testpaths
    USES_TERMINAL
    COMMENT "4-up imposition against pstops number-up=4")
endif()
