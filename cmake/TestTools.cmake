# Whether the tests and the benchmarks are built. They need GoogleTest with
# GoogleMock, and Google Benchmark, which a fresh Debian machine lacks.
# QORV_TESTS and QORV_BENCH are ON, OFF or AUTO (the default): AUTO builds
# each when what it needs is installed and otherwise skips it with one line
# that says what to install; ON stops the configure step with that advice.
# The outcome is in QORV_BUILD_TESTS and QORV_BUILD_BENCH.

# qorv_choose(OPTION RESULT FOUND WHAT PACKAGES)
macro(qorv_choose option result found what packages)
  string(TOUPPER "${${option}}" _qorv_choice)
  if(_qorv_choice STREQUAL "AUTO")
    set(${result} ON)
    if(NOT ${found})
      set(${result} OFF)
      message(NOTICE "qorv_python: ${what} not found, so ${option} is off "
                     "(sudo apt-get install ${packages}; -D${option}=OFF skips this check)")
    endif()
  elseif(${option})
    if(NOT ${found})
      message(FATAL_ERROR "${option}=ON needs ${what}: sudo apt-get install ${packages}")
    endif()
    set(${result} ON)
  else()
    set(${result} OFF)
  endif()
endmacro()

set(QORV_BUILD_TESTS OFF)
if(NOT QORV_TESTS STREQUAL "OFF")
  set(_qorv_gtest_found OFF)
  if(QORV_GTEST_SOURCE)
    set(_qorv_gtest_found ON)  # built here from its sources (tests/CMakeLists.txt)
  else()
    find_package(GTest QUIET)
    if(GTest_FOUND AND TARGET GTest::gtest_main AND TARGET GTest::gmock)
      set(_qorv_gtest_found ON)
    endif()
  endif()
  qorv_choose(QORV_TESTS QORV_BUILD_TESTS _qorv_gtest_found "GoogleTest and GoogleMock"
              "libgtest-dev libgmock-dev")
endif()

set(QORV_BUILD_BENCH OFF)
if(NOT QORV_BENCH STREQUAL "OFF" AND NOT QORV_CORE_ONLY)
  find_package(benchmark QUIET)
  qorv_choose(QORV_BENCH QORV_BUILD_BENCH benchmark_FOUND "Google Benchmark" "libbenchmark-dev")
endif()
