# The JPEG encoder over arbitrary parameter records and rasters. The encoder
# sources are compiled into the target so that the fuzzer sees their
# coverage.
file(GLOB VT_FUZZ_JPEG_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../jpeg/src/*.cpp)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$" AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/../jpeg/src/JpegKernelsAvx512.cpp
                              PROPERTIES COMPILE_OPTIONS "-mavx2;-mavx512f;-mavx512bw;-mavx512vl")
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/../jpeg/src/JpegKernelsAvx2.cpp
                              PROPERTIES COMPILE_OPTIONS "-mavx2")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/../jpeg/src/JpegKernelsSse41.cpp
                              PROPERTIES COMPILE_OPTIONS "-msse4.1")
endif()
vt_add_fuzzer(fuzz_jpeg SOURCES ${CMAKE_CURRENT_LIST_DIR}/jpeg.cpp ${VT_FUZZ_JPEG_SOURCES})
target_include_directories(fuzz_jpeg PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../jpeg/include
                                             ${CMAKE_CURRENT_LIST_DIR}/../jpeg/src)
target_compile_options(fuzz_jpeg PRIVATE -fno-exceptions)
