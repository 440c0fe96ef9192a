# Shared compile settings: warnings as errors for our own code only.
set(KIV_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)

if(KIV_SANITIZE)
  add_compile_options(${KIV_SANITIZE_FLAGS})
  add_link_options(${KIV_SANITIZE_FLAGS})
endif()
if(KIV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(KIV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KIV_FUZZ needs clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(kiv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wno-missing-field-initializers -Werror)
endfunction()

# kiv_add_library(name SOURCES ... DEPS ...): one library per subsystem.
function(kiv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kiv_warnings(${name})
endfunction()

# kiv_add_test(name SOURCES ... DEPS ... [LOCK resource]): one GoogleTest executable, registered with CTest.
# Tests that hold the same LOCK never run at the same time.
function(kiv_add_test name)
  cmake_parse_arguments(ARG "" "LOCK" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest kiv_test_main)
  target_compile_definitions(${name} PRIVATE KIV_TEST_FIXTURES="${PROJECT_SOURCE_DIR}/tests/fixtures"
                                             KIV_TEST_MEDIA="${PROJECT_SOURCE_DIR}/tests/media"
                                             KIV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  kiv_warnings(${name})
  if(ARG_LOCK)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 RESOURCE_LOCK ${ARG_LOCK})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
