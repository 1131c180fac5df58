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
  SOURCES win32/pathhelpers_test.cpp win32/startup_test.cpp
  LIBS bootstrapcore e2eharness)
add_dependencies(windows_tests standinsetup)

bootstrap_add_test(stamping_tests
  SOURCES installer/setsourcepath_test.cpp
  LIBS bootstrapcore e2eharness)

bootstrap_add_test(e2e_tests
  SOURCES e2e/modeselection_test.cpp
  LIBS e2eharness)
add_dependencies(e2e_tests bootstrap standinsetup)

# Reading an executable's resources back (icon and builder tests).
add_library(peresources STATIC e2e/peresources.cpp)
target_include_directories(peresources PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
target_link_libraries(peresources PUBLIC bootstrapcore)
bootstrap_options(peresources)

bootstrap_add_test(icon_tests
  SOURCES e2e/iconreplace_test.cpp
  LIBS bootstrapcore peresources e2eharness)
add_dependencies(icon_tests bootstrap)

# A DLL that records being loaded, planted beside packages by the tests.
add_library(planteddll SHARED helpers/planteddll.cpp)
set_target_properties(planteddll PROPERTIES PREFIX "")
target_link_options(planteddll PRIVATE -static-libgcc)

# Installer mode end to end: packages built by the bare program, run with
# their own TMP.
bootstrap_add_test(installer_tests
  SOURCES e2e/installer_test.cpp
  LIBS peresources e2eharness ziptestkit)
add_dependencies(installer_tests bootstrap standinsetup planteddll)
target_compile_definitions(installer_tests PRIVATE PLANTED_DLL="$<TARGET_FILE:planteddll>")
# The rows that need a Chinese ANSI code page run in a process of that locale.
set_tests_properties(installer_tests PROPERTIES ENVIRONMENT "GTEST_FILTER=-ChineseLocale.*")
add_test(NAME installer_tests_chinese_locale COMMAND installer_tests --gtest_filter=ChineseLocale.*)
set_tests_properties(installer_tests_chinese_locale PROPERTIES ENVIRONMENT "LANG=zh_CN.GBK;LC_ALL=zh_CN.GBK")

# A package signed after building still installs and verifies.
add_test(NAME signed_package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signedpackage.sh $<TARGET_FILE:bootstrap> $<TARGET_FILE:standinsetup>
    ${CMAKE_CURRENT_BINARY_DIR}/scratch/signed_package)

# Builder mode end to end.
bootstrap_add_test(builder_tests
  SOURCES e2e/builder_test.cpp
  LIBS bootstrapcore peresources e2eharness)
add_dependencies(builder_tests bootstrap)

# The program must need no DLL but the system's.
add_test(NAME bootstrap_imports
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checkimports.sh $<TARGET_FILE:bootstrap>)

# The archive writer, the tree walker and the package reader.
add_library(ziptestkit STATIC archive/ziptestkit.cpp)
target_link_libraries(ziptestkit PUBLIC portablecore minizip)
target_include_directories(ziptestkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/archive)
bootstrap_options(ziptestkit)
bootstrap_add_test(archive_tests
  SOURCES archive/datazip_test.cpp archive/dataunzip_test.cpp archive/zip64_test.cpp archive/inflateahead_test.cpp
  LIBS bootstrapcore ziptestkit e2eharness)
bootstrap_add_test(ui_tests
  SOURCES ui/splash_test.cpp ui/splashwindow.cpp
  LIBS bootstrapcore e2eharness)

# Shows the splash like the installer window, for screenshots.
add_executable(splashdemo WIN32 helpers/splashdemo.cpp)
target_link_libraries(splashdemo PRIVATE bootstrapcore)
bootstrap_options(splashdemo)

# Screenshots of the splash on a display of their own, checked pixel by pixel.
add_test(NAME splash_screenshots
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checkscreenshots.sh ${CMAKE_CURRENT_BINARY_DIR}/screenshots
    splashdemo -- $<TARGET_FILE:splashdemo> 6000)
