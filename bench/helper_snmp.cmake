# SNMP GETs through the helper service against net-snmp's own synchronous
# request in one process and against running Debian's snmpget program, all
# to the same local snmpd:
#   cmake --build <dir> --target helper_snmp_bench && <dir>/bin/helper_snmp_bench
if(TARGET helper_testsupport)
  pkg_check_modules(BENCH_NETSNMP REQUIRED IMPORTED_TARGET netsnmp)
  add_executable(helper_snmp_bench ${CMAKE_CURRENT_LIST_DIR}/helper_snmp_bench.cpp)
  target_link_libraries(helper_snmp_bench PRIVATE helper_testsupport orbrequests PkgConfig::BENCH_NETSNMP)
  find_program(VT_BENCH_SNMPGET snmpget)
  target_compile_definitions(helper_snmp_bench PRIVATE VT_SNMPGET_EXE="${VT_BENCH_SNMPGET}")
  add_dependencies(helper_snmp_bench MacOrbServiceXPC)
  vt_warnings(helper_snmp_bench)
endif()
