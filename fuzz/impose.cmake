# The page index and the N-up imposition (covers, interleaves, frames), fed
# arbitrary spool contents and job options. The filter's sources are
# compiled into the target itself so that libFuzzer sees their coverage.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VT_NUP_UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
file(GLOB_RECURSE _vt_nup_fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/filter/src/*.cpp)
list(REMOVE_ITEM _vt_nup_fuzz_sources ${PROJECT_SOURCE_DIR}/filter/src/psToVTOrbPS.cpp)
vt_add_fuzzer(impose
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/impose.cpp ${_vt_nup_fuzz_sources}
              LIBS vtcommon vtpaths_testenv ${CUPS_LIBRARY} PkgConfig::VT_NUP_UTF8PROC)
target_include_directories(impose PRIVATE ${PROJECT_SOURCE_DIR}/filter/src ${CUPS_INCLUDE_DIR})
target_compile_options(impose PRIVATE -Wno-deprecated-declarations)
