# The Printer Application's front end on arbitrary bytes: HTTP request heads,
# their framing and chunked bodies over a socket pair, and IPP requests
# through the check in front of PAPPL. Built only where PAPPL is (the
# printer-app folder then defines vtpapp); PAPPL itself does not run.
if(TARGET vtpapp)
  vt_add_fuzzer(printer_app_frontend SOURCES ${CMAKE_CURRENT_LIST_DIR}/printer_app_frontend.cpp
                LIBS vtpapp)
endif()
