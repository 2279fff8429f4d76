# Instrumented builds: AddressSanitizer with UndefinedBehaviorSanitizer (the test build),
# ThreadSanitizer, libFuzzer, and line coverage. One build folder per kind; they do not mix.
set(_zelvo_kinds 0)
foreach(kind ZELVO_SANITIZE ZELVO_TSAN ZELVO_COVERAGE)
  if(${kind})
    math(EXPR _zelvo_kinds "${_zelvo_kinds} + 1")
  endif()
endforeach()
if(_zelvo_kinds GREATER 1 OR (ZELVO_FUZZ AND (ZELVO_TSAN OR ZELVO_COVERAGE)))
  message(FATAL_ERROR "ZELVO_SANITIZE, ZELVO_TSAN, ZELVO_COVERAGE and ZELVO_FUZZ need separate build folders "
                      "(ZELVO_FUZZ already includes AddressSanitizer and UndefinedBehaviorSanitizer)")
endif()

if(ZELVO_SANITIZE AND NOT ZELVO_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ZELVO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC notes that it cannot instrument std::atomic_thread_fence; the code uses none.
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-tsan>)
  endif()
endif()

if(ZELVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZELVO_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # Coverage instrumentation for all code linked into the fuzz targets.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ZELVO_COVERAGE)
  # Atomic counters: the port and the tests run several threads, and racing plain
  # counters come out negative, which gcov reports cannot read.
  add_compile_options(--coverage -O0 -fprofile-update=atomic)
  add_link_options(--coverage)
endif()

# Link option for the shared libraries: every symbol they use must be resolved at link
# time. GCC links the sanitizer runtimes into shared libraries as well; clang links them
# only into executables, so an instrumented library built by clang leaves the runtime's
# symbols to the program that loads it, and the check is dropped for such builds.
set(ZELVO_NO_UNDEFINED -Wl,--no-undefined)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND (ZELVO_SANITIZE OR ZELVO_TSAN OR ZELVO_FUZZ))
  set(ZELVO_NO_UNDEFINED "")
endif()

# zelvo_add_fuzzer(name sources... LIBS libs...): a libFuzzer target, built with ZELVO_FUZZ.
# The name must start with fuzz_; scripts/fuzz.sh runs every such executable with the
# inputs in fuzz/<folder>/corpus/<name>/ and fuzz/<folder>/regressions/<name>/ and the
# dictionary fuzz/<folder>/<name>.dict when there is one.
function(zelvo_add_fuzzer name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  if(NOT name MATCHES "^fuzz_")
    message(FATAL_ERROR "fuzz target ${name}: the name must start with fuzz_")
  endif()
  add_executable(${name} ${F_UNPARSED_ARGUMENTS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()

# Home directory of the tests run by CTest, inside the build folder: a test that forgets
# to set HOME itself still never writes into the user's home.
set(ZELVO_TEST_HOME ${CMAKE_BINARY_DIR}/test-home)
file(MAKE_DIRECTORY ${ZELVO_TEST_HOME})

# zelvo_add_gtest(name sources... LIBS libs... [TIMEOUT s] [LABELS label]):
# a GoogleTest executable registered with CTest. LABELS marks its tests for `ctest -L`;
# every executable with a label also joins the build target tests_<label> (for example
# LABELS threads: the tests that exercise threads, run again under ThreadSanitizer).
function(zelvo_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT;LABELS" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # Each property takes a single value here: discovery passes them on as plain arguments.
  set(properties TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "HOME=set:${ZELVO_TEST_HOME}")
  if(T_LABELS)
    list(APPEND properties LABELS ${T_LABELS})
    set_property(GLOBAL APPEND PROPERTY ZELVO_TEST_LABELS ${T_LABELS})
    set_property(GLOBAL APPEND PROPERTY ZELVO_TESTS_LABELLED_${T_LABELS} ${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${properties})
endfunction()

# Called once after every test folder was added: the build targets tests_<label>.
function(zelvo_add_label_targets)
  get_property(labels GLOBAL PROPERTY ZELVO_TEST_LABELS)
  if(labels)
    list(REMOVE_DUPLICATES labels)
  endif()
  foreach(label IN LISTS labels)
    get_property(targets GLOBAL PROPERTY ZELVO_TESTS_LABELLED_${label})
    add_custom_target(tests_${label})
    add_dependencies(tests_${label} ${targets})
  endforeach()
endfunction()
