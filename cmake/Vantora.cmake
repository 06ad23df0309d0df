# Shared build rules: our own code builds without warnings.
function(vantora_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# vantora_library(<name> SOURCES ... [LIBS ...])
# A static library whose headers are included as "<folder>/<file>.h" from src/.
# With VANTORA_FUZZ it is built for libFuzzer's coverage and the sanitizers,
# so that a fuzz target sees into every library it links; whatever links it
# (the fuzz targets, the replays, the tests) then takes the sanitizers'
# runtime too.
function(vantora_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  vantora_warnings(${name})
  if(VANTORA_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(${name} INTERFACE -fsanitize=address,undefined)
  endif()
endfunction()

# vantora_fuzz_target(<name> SOURCES ... LIBS ...)
# A libFuzzer entry point, for long runs by hand; built only with
# VANTORA_FUZZ. It links the project's libraries, as the program does, and
# never lists their sources, so it builds whatever they come to need.
function(vantora_fuzz_target name)
  if(NOT VANTORA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  vantora_warnings(${name})
endfunction()

# vantora_test(<name> LABEL <label> SOURCES ... [LIBS ...] [TIMEOUT s] [SHARDS n])
# A GoogleTest executable registered with CTest under the folder's label.
# Widget tests run on Qt's offscreen platform. With SHARDS, a program too long
# to be one entry is registered n times, as <name>_<k>of<n>, and each entry
# is told by VANTORA_TEST_SHARD=<k>/<n> which share of its work to do, so
# that CTest's parallel level spreads it; TIMEOUT is then each share's.
function(vantora_test name)
  cmake_parse_arguments(A "" "LABEL;TIMEOUT;SHARDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock)
  vantora_warnings(${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  if(NOT A_SHARDS)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      LABELS "${A_LABEL}"
      TIMEOUT ${A_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    return()
  endif()
  foreach(k RANGE 1 ${A_SHARDS})
    add_test(NAME ${name}_${k}of${A_SHARDS} COMMAND ${name})
    set_tests_properties(${name}_${k}of${A_SHARDS} PROPERTIES
      LABELS "${A_LABEL}"
      TIMEOUT ${A_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTORA_TEST_SHARD=${k}/${A_SHARDS}")
  endforeach()
endfunction()
