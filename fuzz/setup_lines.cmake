# The setup writers and the converter line handlers, fed arbitrary lines and
# job layouts.
vt_add_fuzzer(setup_lines SOURCES ${CMAKE_CURRENT_LIST_DIR}/setup_lines.cpp
              LIBS vtfilter vtpaths_testenv)
