# Warnings are errors everywhere in our own code.
function(vt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
endfunction()

# Executables used only by tests go to build/test-bin.
function(vt_test_output target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VT_TEST_BIN_DIR})
endfunction()
