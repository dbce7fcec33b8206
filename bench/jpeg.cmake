# jpegcodec against libjpeg-turbo's TurboJPEG encoder on a photograph.
pkg_check_modules(BENCH_TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
add_executable(jpeg_bench ${CMAKE_CURRENT_LIST_DIR}/jpeg_bench.cpp)
target_link_libraries(jpeg_bench PRIVATE jpegcodec PkgConfig::BENCH_TURBOJPEG)
vt_warnings(jpeg_bench)
