# Build helpers shared by every folder.

# Warnings every target of ours compiles with.
add_library(velmorin_warnings INTERFACE)
target_compile_options(velmorin_warnings INTERFACE -Wall -Wextra -Wshadow)
if(VELMORIN_WERROR)
  target_compile_options(velmorin_warnings INTERFACE -Werror)
endif()

if(VELMORIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer: a build of its own, since it cannot share a process with AddressSanitizer.
option(VELMORIN_TSAN "Build with ThreadSanitizer" OFF)
if(VELMORIN_TSAN)
  if(VELMORIN_SANITIZE)
    message(FATAL_ERROR "VELMORIN_TSAN and VELMORIN_SANITIZE exclude each other")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# velmorin_library(<name> [DEPS <libs...>])
# One static library from the .cpp files of the calling folder (not its tests/).
function(velmorin_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    # A folder whose code has not arrived yet still takes its place in the chain.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE velmorin_warnings)
endfunction()

# velmorin_tests(<name> [DEPS <libs...>] [ENVIRONMENT <NAME=value...>])
# One GoogleTest binary from tests/*.cpp of the calling folder, with the shared test support;
# ctest lists every case, each run with the given environment.
function(velmorin_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;ENVIRONMENT" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} velmorin_testsupport GTest::gtest GTest::gtest_main GTest::gmock velmorin_warnings)
  target_compile_definitions(${name} PRIVATE
    VELMORIN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data"
    VELMORIN_SOURCE_ROOT="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  if(ARG_ENVIRONMENT)
    # Discovery flattens list-valued properties, so the environment is set on the discovered
    # tests by a file ctest reads after their list.
    set(environment_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(WRITE ${environment_file}
         "set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT \"${ARG_ENVIRONMENT}\")\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${environment_file})
  endif()
endfunction()

# velmorin_fuzzer(<name> <source> <library>)
# One libFuzzer target when VELMORIN_FUZZ is on (scripts/fuzz.sh builds and runs them).
function(velmorin_fuzzer name source library)
  if(NOT VELMORIN_FUZZ)
    return()
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELMORIN_FUZZ needs clang (libFuzzer)")
  endif()
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${library} velmorin_warnings)
endfunction()
