# The filter's one-pass job against CUPS's pstops on a ~100 MB real document:
#   cmake --build <dir> --target bench_linepass
add_custom_target(bench_linepass
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/linepass.sh $<TARGET_FILE:psToVTOrbPS> 100 5
  DEPENDS psToVTOrbPS
  USES_TERMINAL
  COMMENT "psToVTOrbPS against pstops")
