# Cross-builds the encoder for Windows with MinGW as part of the normal build
# and tests it: the 32-bit DLL that ships (imports and export checked with
# objdump; run under wine where the host runs 32-bit code) and a 64-bit
# build of the same sources run under wine64, both compared byte for byte
# with the Linux library.
include(ExternalProject)
find_program(VT_MINGW32_CXX i686-w64-mingw32-g++)
find_program(VT_MINGW64_CXX x86_64-w64-mingw32-g++)
option(VT_BUILD_WINDOWS_DLL "Cross-build jpegcodec.dll with MinGW" ON)

if(VT_BUILD_TESTS)
  add_executable(jpeg_win_compare ${CMAKE_CURRENT_SOURCE_DIR}/win/WinCompare.cpp)
  target_include_directories(jpeg_win_compare PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/win)
  target_link_libraries(jpeg_win_compare PRIVATE jpegcodec)
  vt_warnings(jpeg_win_compare)
  vt_test_output(jpeg_win_compare)
endif()

function(jpegcodec_windows_build name toolchain loader)
  set(dir ${CMAKE_BINARY_DIR}/jpeg-${name})
  ExternalProject_Add(jpegcodec_${name}
    SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/win
    BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_SOURCE_DIR}/win/${toolchain}
               -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${dir}/jpegcodec.dll ${dir}/jpegwintest.exe)
  if(VT_BUILD_TESTS)
    add_test(NAME jpeg_${name}_wine
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win/run-wine-test.sh ${loader} ${dir}/wineprefix
                     ${dir}/jpegwintest.exe ${dir}/jpegcodec.dll ${dir}/streams $<TARGET_FILE:jpeg_win_compare>)
    set_tests_properties(jpeg_${name}_wine PROPERTIES LABELS nosanitize TIMEOUT 600 SKIP_RETURN_CODE 77
                                                      RUN_SERIAL ON)
  endif()
endfunction()

if(VT_BUILD_WINDOWS_DLL AND VT_MINGW32_CXX)
  jpegcodec_windows_build(win32 mingw-i686.cmake /usr/lib/wine/wine)
  if(VT_BUILD_TESTS)
    add_test(NAME jpeg_win32_dll_imports
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win/check-dll.sh i686-w64-mingw32-objdump
                     ${CMAKE_BINARY_DIR}/jpeg-win32/jpegcodec.dll)
  endif()
endif()
if(VT_BUILD_WINDOWS_DLL AND VT_MINGW64_CXX)
  jpegcodec_windows_build(win64 mingw-x86_64.cmake /usr/lib/wine/wine64)
endif()
