# The JPEG encoder over arbitrary parameter records and rasters.
vt_add_fuzzer(fuzz_jpeg SOURCES ${CMAKE_CURRENT_LIST_DIR}/jpeg.cpp LIBS jpegcodec_core)
