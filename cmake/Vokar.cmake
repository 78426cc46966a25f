# Shared build helpers: warnings, sanitizers and the test/fuzz/bench target shapes.

find_package(Threads REQUIRED)

if(VOKAR_SANITIZE)
  add_compile_options(-fsanitize=${VOKAR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VOKAR_SANITIZE})
  # The standard library's bounds checks turn a read past a container's end
  # into an abort where the sanitizers alone may not see it.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

set(VOKAR_WARNINGS -Wall -Wextra -Werror)

# Fuzzing builds instrument every library for coverage, not just the targets.
if(VOKAR_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# vokar_library(NAME SOURCES ... DEPS ...): static library vokar_NAME with the
# repository root as include root, so headers are included as "base/reactor.h".
function(vokar_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(vokar_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vokar_${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/include)
  target_compile_options(vokar_${name} PRIVATE ${VOKAR_WARNINGS})
  target_link_libraries(vokar_${name} PUBLIC ${ARG_DEPS})
endfunction()

# vokar_test(PREFIX SOURCES ... DEPS ... [LABEL unit]): one GoogleTest program
# per library; every test is registered as PREFIX.Suite.Name.
function(vokar_test prefix)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS;ENVIRONMENT" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  set(target vokar_${prefix}_${ARG_LABEL}_tests)
  add_executable(${target} ${ARG_SOURCES})
  target_compile_options(${target} PRIVATE ${VOKAR_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${target}
    TEST_PREFIX "${prefix}."
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()

# vokar_fuzz(NAME SOURCE DEPS ...): libFuzzer target fuzz_NAME; its seed corpus
# lives in fuzz/corpus/NAME.
function(vokar_fuzz name source)
  add_executable(fuzz_${name} ${source})
  target_compile_options(fuzz_${name} PRIVATE ${VOKAR_WARNINGS} -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${name} PRIVATE ${ARGN})
endfunction()

function(vokar_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  target_compile_options(bench_${name} PRIVATE ${VOKAR_WARNINGS})
  target_link_libraries(bench_${name} PRIVATE vokar_bench_support ${ARG_DEPS} benchmark::benchmark)
endfunction()
