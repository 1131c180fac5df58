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
target_link_libraries(standinsetup PRIVATE testfiles)
bootstrap_options(standinsetup)
target_link_options(standinsetup PRIVATE -mconsole)

add_library(e2eharness STATIC e2e/harness.cpp)
target_include_directories(e2eharness PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
target_compile_definitions(e2eharness PUBLIC ${TEST_PATHS})
target_link_libraries(e2eharness PUBLIC testfiles GTest::gtest)
bootstrap_options(e2eharness)

bootstrap_add_test(windows_tests
  SOURCES win32/pathhelpers_test.cpp win32/startup_test.cpp win32/workspace_test.cpp win32/systemfunction_test.cpp
    win32/handles_test.cpp installer/platformfaults_test.cpp
  LIBS bootstrapcore e2eharness ziptestkit)
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

# The native packer's icon rewrite against the builder's, read back by the
# system's resource calls.
bootstrap_add_test(packicon_tests
  SOURCES e2e/packicon_test.cpp
  LIBS bootstrapcore peresources peresource e2eharness)
add_dependencies(packicon_tests bootstrap)

# A DLL that records being loaded, planted beside packages by the tests.
add_library(planteddll SHARED helpers/planteddll.cpp)
set_target_properties(planteddll PROPERTIES PREFIX "")
target_link_options(planteddll PRIVATE -static-libgcc)

# A lookup typed by a pointer instead of the plain signature does not compile.
add_test(NAME systemfunction_refuses_a_pointer_type
  COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only -I${CMAKE_SOURCE_DIR}/source/win32
    ${CMAKE_CURRENT_SOURCE_DIR}/win32/systemfunction_pointer.cpp)
set_tests_properties(systemfunction_refuses_a_pointer_type PROPERTIES
  PASS_REGULAR_EXPRESSION "incomplete type.*winapifunction<int \\(\\*\\)" LABELS static)

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

# An entry of 5 GiB installed whole, and refused when its size is cut to 32
# bits: 5 GiB written under Wine, so labelled for quick runs to leave out.
bootstrap_add_test(installer_large_tests
  SOURCES e2e/largeentry_test.cpp
  LIBS e2eharness ziptestkit)
add_dependencies(installer_large_tests bootstrap standinsetup)
# Its own guard on each install is far above an honest run; ctest's is above both.
set_tests_properties(installer_large_tests PROPERTIES LABELS large COST 1000 TIMEOUT 12000)

# A package signed after building still installs and verifies.
add_test(NAME signed_package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signedpackage.sh $<TARGET_FILE:bootstrap> $<TARGET_FILE:standinsetup>
    ${CMAKE_CURRENT_BINARY_DIR}/scratch/signed_package)

# Builder mode end to end.
bootstrap_add_test(builder_tests
  SOURCES e2e/builder_test.cpp
  LIBS bootstrapcore peresources e2eharness testpackage)
add_dependencies(builder_tests bootstrap)

# The import check holds the 32-bit program that ships; it reads files only
# (label "static") and runs on every host.
if(BOOTSTRAP_SHIPPED_BUILD)
  # The program's import check (bootstrap_imports) is registered with the
  # program by bootstrap_shipped_program. The check itself must refuse each kind
  # of fault: a program that carries them all, and one test per fault.
  add_executable(importprobe helpers/importprobe.cpp)
  bootstrap_options(importprobe)
  target_link_libraries(importprobe PRIVATE gdiplusdelay)
  target_link_options(importprobe PRIVATE -mconsole -Wl,--major-subsystem-version,6,--minor-subsystem-version,0)
  set(IMPORT_CHECK_FAULTS
    "newer_function=import not on the Windows XP allowlist: kernel32.dll GetTickCount64"
    "newer_delayed_function=import not on the Windows XP allowlist: gdiplus.dll GdipCreateBitmapFromScan0"
    "newer_header=header: MajorSubsystemVersion 6.0 is newer than Windows XP"
    "not_delayed=import: kernel32.dll must be delay-loaded"
    "no_delay_table=delay import: no delay-load table for kernel32.dll")
  foreach(fault IN LISTS IMPORT_CHECK_FAULTS)
    string(REGEX MATCH "^[a-z_]+" name "${fault}")
    string(REGEX REPLACE "^[a-z_]+=" "" expected "${fault}")
    add_test(NAME import_check_refuses_${name}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checkimports.sh $<TARGET_FILE:importprobe>
        ${CMAKE_CURRENT_SOURCE_DIR}/xp-imports.txt kernel32.dll)
    set_tests_properties(import_check_refuses_${name} PROPERTIES PASS_REGULAR_EXPRESSION "${expected}" LABELS static)
  endforeach()
  # And fails as a whole.
  add_test(NAME import_check_fails_on_faults
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checkimports.sh $<TARGET_FILE:importprobe>
      ${CMAKE_CURRENT_SOURCE_DIR}/xp-imports.txt)
  set_tests_properties(import_check_fails_on_faults PROPERTIES WILL_FAIL TRUE LABELS static)
endif()

# The archive writer, the tree walker and the package reader.
add_library(ziptestkit STATIC archive/ziptestkit.cpp)
target_link_libraries(ziptestkit PUBLIC portablecore minizip testfiles testpackage)
target_include_directories(ziptestkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/archive)
bootstrap_options(ziptestkit)
bootstrap_add_test(archive_tests
  SOURCES archive/datazip_test.cpp archive/dataunzip_test.cpp archive/zip64_test.cpp archive/inflateahead_test.cpp
  LIBS bootstrapcore ziptestkit e2eharness)
# Its zip64 test writes, packs, extracts and deletes 70000 files, minutes
# under Wine: started first, it runs beside all the others instead of after them.
set_tests_properties(archive_tests PROPERTIES COST 10000)
# The entry-name rows are shared with the portable rule's test.
target_include_directories(archive_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/core)
bootstrap_add_test(ui_tests
  SOURCES ui/splash_test.cpp ui/splashwindow.cpp installer/installwindow_test.cpp
  LIBS bootstrapcore e2eharness)

# Shows the splash like the installer window, for screenshots.
add_executable(splashdemo WIN32 helpers/splashdemo.cpp)
target_link_libraries(splashdemo PRIVATE bootstrapcore)
bootstrap_options(splashdemo)
# A full-screen window standing for the desktop under the splash.
add_executable(backdrop WIN32 helpers/backdrop.cpp)
bootstrap_options(backdrop)

# Screenshots of the splash on a display of their own, checked pixel by pixel.
add_test(NAME splash_screenshots
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checkscreenshots.sh ${CMAKE_CURRENT_BINARY_DIR}/screenshots
    splashdemo -- $<TARGET_FILE:splashdemo> 6000)

# The native packer against the Windows builder: the same archives byte for
# byte, names in code pages 1252 and 936.
add_test(NAME pack_compare
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packcompare.sh $<TARGET_FILE:bootstrap> $<TARGET_FILE:standinsetup>
    ${CMAKE_CURRENT_BINARY_DIR}/scratch/pack_compare)

# GDI+ comes from the system's side-by-side store on every Windows version:
# the program's manifest binds it, so a gdiplus.dll beside the package is
# never searched (Wine loads its own GDI+ whatever the search, so the
# planting test cannot show this on versions without the newer DLL search).
add_test(NAME manifest_binds_system_gdiplus
  COMMAND grep -a -c "name=\"Microsoft.Windows.GdiPlus\"" $<TARGET_FILE:bootstrap>)
set_tests_properties(manifest_binds_system_gdiplus PROPERTIES LABELS static)

# The native packer's refusals and icon files; no Wine needed.
add_test(NAME pack_refusals
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packrefusals.sh $<TARGET_FILE:bootstrap> ${CMAKE_CURRENT_BINARY_DIR}/scratch/pack_refusals)
set_tests_properties(pack_refusals PROPERTIES LABELS static)

# A natively packed package installs.
add_test(NAME native_install
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/nativeinstall.sh $<TARGET_FILE:bootstrap> $<TARGET_FILE:standinsetup>
    ${CMAKE_CURRENT_BINARY_DIR}/scratch/native_install)

# scripts/pack.sh end to end, and the inspectors on what it packs.
add_test(NAME pack_script
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packscript.sh $<TARGET_FILE:bootstrap> $<TARGET_FILE:standinsetup>
    $<TARGET_FILE:inspect> ${CMAKE_CURRENT_BINARY_DIR}/scratch/pack_script)

# The Windows inspector's import check (system DLLs, the Windows XP allowlist)
# is registered with the program itself: bootstrap_shipped_program.

# LZMA packages of the native packer under the installer: the packages are
# made first, by a test of their own.
add_test(NAME lzma_packages
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/lzmapackages.sh $<TARGET_FILE:bootstrap> $<TARGET_FILE:standinsetup>
    ${CMAKE_CURRENT_BINARY_DIR}/scratch/lzma_packages)
set_tests_properties(lzma_packages PROPERTIES FIXTURES_SETUP lzmapackages)
bootstrap_add_test(installer_lzma_tests
  SOURCES e2e/lzmainstall_test.cpp
  LIBS e2eharness ziptestkit)
add_dependencies(installer_lzma_tests bootstrap standinsetup)
target_compile_definitions(installer_lzma_tests PRIVATE
  LZMA_PACKAGES_DIR="${CMAKE_CURRENT_BINARY_DIR}/scratch/lzma_packages")
set_tests_properties(installer_lzma_tests PROPERTIES FIXTURES_REQUIRED lzmapackages)

# These build and run the native tools in build/inspect: one at a time.
set_tests_properties(pack_script pack_compare native_install pack_refusals lzma_packages
  PROPERTIES RESOURCE_LOCK nativetools)

# replaceicon opens its icon file without sharing, and icon_tests and
# packicon_tests hand it the fixtures themselves: no other test may read a
# fixture icon meanwhile.
set_tests_properties(icon_tests packicon_tests builder_tests installer_tests installer_tests_chinese_locale
  PROPERTIES RESOURCE_LOCK iconfixtures)
