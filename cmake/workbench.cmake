# Project-wide build helpers: warnings, sanitizers, and one function per kind of target.

set(WORKBENCH_WARNINGS -Wall -Wextra)
# GCC 12 reports -Wrestrict for plain std::string concatenation ("a" + str), a known false positive.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND WORKBENCH_WARNINGS -Wno-restrict)
endif()
option(WORKBENCH_WERROR "Treat warnings as errors" OFF)
if(WORKBENCH_WERROR)
  list(APPEND WORKBENCH_WARNINGS -Werror)
endif()

if(SANITIZE)
  string(REPLACE "," ";" _sanitizers "${SANITIZE}")
  foreach(_s IN LISTS _sanitizers)
    add_compile_options(-fsanitize=${_s})
    add_link_options(-fsanitize=${_s})
  endforeach()
  add_compile_options(-fno-omit-frame-pointer -fno-sanitize-recover=undefined)
endif()

# A fuzz build instruments every library for coverage, so libFuzzer is guided by the
# parsers' own branches, not only by the fuzz entry points.
if(BUILD_FUZZERS)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(workbench_add_optional_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endfunction()

# workbench_library(NAME SOURCES ... [DEPS ...] [PKG ...])
#   A static library whose public include root is the repository root, so that
#   headers are included as "quiltbench/engine/dib.h". PKG names pkg-config modules.
function(workbench_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PKG" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${WORKBENCH_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  foreach(pkg IN LISTS ARG_PKG)
    string(MAKE_C_IDENTIFIER "PKG_${pkg}" var)
    pkg_check_modules(${var} REQUIRED IMPORTED_TARGET ${pkg})
    target_link_libraries(${name} PUBLIC PkgConfig::${var})
  endforeach()
endfunction()

# workbench_program(NAME SOURCES ... [DEPS ...])
function(workbench_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${WORKBENCH_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# workbench_test(NAME SOURCES ... [DEPS ...])
#   One GoogleTest executable, its cases registered with CTest one by one.
function(workbench_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${WORKBENCH_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} workbench_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "WORKBENCH_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

# workbench_window_test(NAME SOURCES ... [DEPS ...])
#   A GoogleTest executable of window tests: every case runs under tools/with-display (the
#   display in $DISPLAY, or a virtual one of its own), one window test at a time, with
#   screenshots going to <build>/screenshots and the toolkit's known X11 leaks suppressed.
function(workbench_window_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${WORKBENCH_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} platform_desktop workbench_test_support
                        GTest::gtest GTest::gmock GTest::gtest_main)
  # The runner: the display, then the environment (one ENVIRONMENT entry is all
  # gtest_discover_tests passes through cleanly).
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${PROJECT_SOURCE_DIR}/tools/with-display;env;WORKBENCH_SCREENSHOT_DIR=${PROJECT_BINARY_DIR}/screenshots;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tools/lsan-x11.supp:print_suppressions=0")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES
      RESOURCE_LOCK x_display
      # A window that never answers fails its test instead of stalling the whole run.
      TIMEOUT 300
      ENVIRONMENT "WORKBENCH_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

# workbench_window_smoke_test(NAME SCRIPT PROGRAM)
#   A shell script that starts the real PROGRAM on a display and drives it from outside
#   (xdotool), under tools/with-display with the toolkit's known X11 leaks suppressed.
function(workbench_window_smoke_test name script program)
  add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tools/with-display ${script}
                                $<TARGET_FILE:${program}>)
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK x_display TIMEOUT 60
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tools/lsan-x11.supp:print_suppressions=0")
endfunction()

# workbench_install_program(NAME DESKTOP_NAME text COMMENT text)
#   Installs the program into <prefix>/bin and a desktop entry for it into
#   <prefix>/share/applications; the entry's Exec names the installed program, with the
#   prefix the installation is made for (cmake --install --prefix counts).
function(workbench_install_program name)
  cmake_parse_arguments(ARG "" "DESKTOP_NAME;COMMENT" "" ${ARGN})
  install(TARGETS ${name} RUNTIME DESTINATION bin)
  set(entry "[Desktop Entry]\nType=Application\nName=${ARG_DESKTOP_NAME}\nComment=${ARG_COMMENT}\nExec=@EXEC@\nTerminal=false\nCategories=Graphics;\n")
  install(CODE "
    set(entry \"${entry}\")
    string(REPLACE \"@EXEC@\" \"\${CMAKE_INSTALL_PREFIX}/bin/${name}\" entry \"\${entry}\")
    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/${name}.desktop\")
    message(STATUS \"Installing: \${file}\")
    file(WRITE \"\${file}\" \"\${entry}\")")
endfunction()

# workbench_benchmark(NAME SOURCES ... [DEPS ...])
function(workbench_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${WORKBENCH_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# workbench_fuzzer(NAME SOURCES ... [DEPS ...] CORPUS dir)
#   With BUILD_FUZZERS a libFuzzer binary; always a replay program that runs every
#   file of the committed corpus once, registered as a test.
function(workbench_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_compile_options(${name}_replay PRIVATE ${WORKBENCH_WARNINGS})
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS})
  add_test(NAME ${name}_corpus COMMAND ${name}_replay ${ARG_CORPUS})
  if(BUILD_FUZZERS)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE ${WORKBENCH_WARNINGS} -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  endif()
endfunction()

# workbench_find_python_with_pil(VAR)
#   Sets VAR to an interpreter that can import PIL (the system one first: a user's own
#   interpreter earlier on PATH may lack it), or to "" when there is none.
function(workbench_find_python_with_pil var)
  foreach(candidate /usr/bin/python3 python3)
    find_program(found NAMES ${candidate} NO_CACHE)
    if(found)
      execute_process(COMMAND ${found} -c "import PIL" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
      if(rc EQUAL 0)
        set(${var} ${found} PARENT_SCOPE)
        return()
      endif()
    endif()
    unset(found)
  endforeach()
  set(${var} "" PARENT_SCOPE)
endfunction()
