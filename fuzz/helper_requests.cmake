# The helper service's request parsers: frames, selectors and the fields of
# all six requests, fed arbitrary bytes.
vt_add_fuzzer(helper_requests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/helper_requests.cpp LIBS orbrequests vtcommon)
