# The whole line pass (line reader, scanner, setup writers, converter
# handlers, sinks, spool file A), fed arbitrary documents and job options.
# The line pass's own sources are compiled into the target as well, so that they
# carry the fuzzer's coverage instrumentation (the libraries do not); the
# linker then takes them instead of the library's copies.
set(_vt_linepass_sources
  ${CMAKE_CURRENT_LIST_DIR}/linepass.cpp
  ${PROJECT_SOURCE_DIR}/filter/src/linepass/Scanner.cpp
  ${PROJECT_SOURCE_DIR}/filter/src/linepass/PSUtil.cpp
  ${PROJECT_SOURCE_DIR}/filter/src/output/SpoolUtil.cpp
  ${PROJECT_SOURCE_DIR}/filter/src/jobticket/JobTicketAccess.cpp
  ${PROJECT_SOURCE_DIR}/common/src/CommonUtil.cpp)
vt_add_fuzzer(linepass SOURCES ${_vt_linepass_sources} LIBS vtfilter vtpaths_testenv)
target_compile_definitions(linepass PRIVATE
  VT_SAMPLE_PPD="${PROJECT_SOURCE_DIR}/examples/sample.ppd"
  VT_SAMPLE_CUSTOMIZE="${PROJECT_SOURCE_DIR}/examples/FilterCustomize.plist")
