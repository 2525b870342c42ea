# Fuzz targets. Each is one source with LLVMFuzzerTestOneInput for one parser, beside its
# saved corpus in fuzz/corpus/<name>/ of the tests' folder:
#
#   vorn_fuzz_target(<name> SOURCES <files...> LIBRARIES <targets...>)
#
# In the normal build the corpus is replayed through the same entry by a test
# (<name>.FuzzCorpus.ReplaysEveryInput). With VORN_FUZZ (the fuzz preset, clang) the target
# <name>_fuzz is a libFuzzer program instead; scripts/fuzz builds and runs them.
if(VORN_FUZZ)
  add_custom_target(vorn_fuzzers)
endif()

function(vorn_fuzz_target name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;LIBRARIES")
  if(VORN_FUZZ)
    add_executable(${name}_fuzz ${ARG_SOURCES})
    target_link_libraries(${name}_fuzz PRIVATE ${ARG_LIBRARIES} vorn_flags)
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
    add_dependencies(vorn_fuzzers ${name}_fuzz)
  else()
    add_executable(${name}_corpus_tests ${ARG_SOURCES}
      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/FuzzCorpus_test.cpp)
    target_link_libraries(${name}_corpus_tests PRIVATE ${ARG_LIBRARIES} vorn_test_support
      GTest::gtest_main)
    target_compile_definitions(${name}_corpus_tests PRIVATE
      VORN_FUZZ_CORPUS="${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name}")
    gtest_discover_tests(${name}_corpus_tests TEST_PREFIX ${name}. DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
