# The PJL header writer over arbitrary option sets; its oracle: the header
# parses back into the customisation table's own lines. The job ticket's
# sources are compiled into the target so that the fuzzer sees their
# coverage.
vt_add_fuzzer(ticket_header SOURCES ${CMAKE_CURRENT_LIST_DIR}/ticket_header.cpp
              ${PROJECT_SOURCE_DIR}/filter/src/jobticket/plistAccess.cpp
              ${PROJECT_SOURCE_DIR}/filter/src/jobticket/PJLUtil.cpp
              ${PROJECT_SOURCE_DIR}/filter/src/jobticket/JobTicketEncode.cpp
              LIBS vtfilter vtpaths_testenv)
target_include_directories(ticket_header PRIVATE ${PROJECT_SOURCE_DIR}/filter/src)
