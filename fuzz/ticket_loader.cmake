# The customisation-file loader fed hostile files (deep nesting, shared and
# self-referencing objects, huge texts, wrong types). The job ticket's
# sources are compiled into the target so that the fuzzer sees their
# coverage.
set(_vt_ticket_sources
  ${PROJECT_SOURCE_DIR}/filter/src/jobticket/plistAccess.cpp
  ${PROJECT_SOURCE_DIR}/filter/src/jobticket/PJLUtil.cpp
  ${PROJECT_SOURCE_DIR}/filter/src/jobticket/JobTicketEncode.cpp)
vt_add_fuzzer(ticket_loader SOURCES ${CMAKE_CURRENT_LIST_DIR}/ticket_loader.cpp ${_vt_ticket_sources}
              LIBS vtfilter vtpaths_testenv)
target_include_directories(ticket_loader PRIVATE ${PROJECT_SOURCE_DIR}/filter/src)
