# The booklet phases and the poster run, fed arbitrary spool contents and
# layouts, covers and interleaves. The filter's sources are compiled into the
# target itself so that libFuzzer sees their coverage.
pkg_check_modules(VT_IMPOSE_FUZZ_UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
file(GLOB_RECURSE _vt_impose_fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/filter/src/*.cpp)
list(REMOVE_ITEM _vt_impose_fuzz_sources ${PROJECT_SOURCE_DIR}/filter/src/psToVTOrbPS.cpp)
vt_add_fuzzer(impose_booklet_poster
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/impose_booklet_poster.cpp ${_vt_impose_fuzz_sources}
              LIBS vtcommon vtpaths_testenv ${CUPS_LIBRARY} PkgConfig::VT_IMPOSE_FUZZ_UTF8PROC)
target_include_directories(impose_booklet_poster PRIVATE ${PROJECT_SOURCE_DIR}/filter/src
                           ${CUPS_INCLUDE_DIR})
target_compile_options(impose_booklet_poster PRIVATE -Wno-deprecated-declarations)
