# Tests of the Windows program, cross-built and run under Wine.

# Paths handed to the test programs as Unix paths; tests/e2e/harness.cpp
# turns them into Windows paths (Z:\...).
set(TEST_PATHS
  BOOTSTRAP_EXE="$<TARGET_FILE:bootstrap>"
  STANDIN_SETUP_EXE="$<TARGET_FILE:standinsetup>"
  TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
  TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")

# The stand-in setup program: records what a setup program started by the
# installer sees.
add_executable(standinsetup helpers/standinsetup.cpp)
bootstrap_options(standinsetup)
target_link_options(standinsetup PRIVATE -mconsole)

add_library(e2eharness STATIC e2e/harness.cpp)
target_include_directories(e2eharness PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
target_compile_definitions(e2eharness PUBLIC ${TEST_PATHS})
target_link_libraries(e2eharness PUBLIC GTest::gtest)
bootstrap_options(e2eharness)

bootstrap_add_test(windows_tests
  SOURCES unit/pathhelpers_test.cpp unit/startup_test.cpp
  LIBS bootstrapcore e2eharness)
add_dependencies(windows_tests standinsetup)

bootstrap_add_test(e2e_tests
  SOURCES e2e/modeselection_test.cpp
  LIBS e2eharness)
add_dependencies(e2e_tests bootstrap standinsetup)

# The program must need no DLL but the system's.
add_test(NAME bootstrap_imports
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checkimports.sh $<TARGET_FILE:bootstrap>)

# The archive writer, the tree walker and the package reader.
add_library(ziptestkit STATIC unit/ziptestkit.cpp)
target_link_libraries(ziptestkit PUBLIC portablecore minizip)
bootstrap_options(ziptestkit)
bootstrap_add_test(archive_tests
  SOURCES unit/datazip_test.cpp unit/dataunzip_test.cpp unit/zip64_test.cpp
  LIBS bootstrapcore ziptestkit e2eharness)
