# The customisation table loader and the PJL header writer, fed arbitrary
# property-list bytes and job options.
vt_add_fuzzer(jobticket SOURCES ${CMAKE_CURRENT_LIST_DIR}/jobticket.cpp
              LIBS vtfilter vtpaths_testenv)
