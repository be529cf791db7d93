# Helpers for the test suites, the plug-ins they load and the resources they
# read; included by tests/CMakeLists.txt.

# vorn_test_suite(NAME SOURCES ... [ENV VAR=value ...] [LABELS ...] [LIBS ...])
# One GoogleTest executable, registered as one ctest test. By default the
# error-policy switches are removed from the test's environment so a suite
# runs in the default mode (reports go to KRTSysLogAbend) whatever the shell
# has set; ENV adds variables on top.
function(vorn_test_suite NAME)
  cmake_parse_arguments(A "" "" "SOURCES;ENV;LABELS;LIBS" ${ARGN})
  add_executable(${NAME} ${A_SOURCES})
  target_link_libraries(${NAME} PRIVATE Vorn::Core GTest::gtest GTest::gtest_main vorn_warnings ${A_LIBS})
  target_include_directories(${NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${NAME} COMMAND ${NAME})
  set(mods "VORN_USE_STD_EXCEPTIONS=unset:" "VORN_LOGS_ENABLED=unset:")
  foreach(e IN LISTS A_ENV)
    string(REPLACE "=" "=set:" m "${e}")
    list(APPEND mods "${m}")
  endforeach()
  set_tests_properties(${NAME} PROPERTIES ENVIRONMENT_MODIFICATION "${mods}" TIMEOUT 300)
  if(A_LABELS)
    set_tests_properties(${NAME} PROPERTIES LABELS "${A_LABELS}")
  endif()
endfunction()

# vorn_test_plugin(NAME SOURCES ... [HEADERS_ONLY] [NO_PREFIX])
# A plug-in module the tests load at run time, built into the calling folder
# of the build tree, where the suites point LD_LIBRARY_PATH. It links the
# library it extends, unless HEADERS_ONLY: then it uses only the library's
# headers (its export macros), as a foreign plug-in would. NO_PREFIX drops
# the "lib" prefix from the file name.
function(vorn_test_plugin NAME)
  cmake_parse_arguments(A "HEADERS_ONLY;NO_PREFIX" "" "SOURCES" ${ARGN})
  add_library(${NAME} MODULE ${A_SOURCES})
  set_target_properties(${NAME} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(A_NO_PREFIX)
    set_target_properties(${NAME} PROPERTIES PREFIX "")
  endif()
  if(A_HEADERS_ONLY)
    target_include_directories(${NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${NAME} PRIVATE vorn_warnings)
  else()
    target_link_libraries(${NAME} PRIVATE Vorn::Core vorn_warnings)
  endif()
endfunction()

# vorn_test_resources(DIR_VAR FILES ...)
# Builds an installation directory for suites that find their resources
# through "KRTInstallPath": the FILES (globs allowed) are copied flat into its
# resources/Vorn folder, and its path is stored in DIR_VAR. The directory is
# made afresh at each configuration, so a file no longer named does not
# linger; each copy is a configure dependency, so an edited file is copied
# again on the next build.
function(vorn_test_resources DIR_VAR)
  cmake_parse_arguments(A "" "" "FILES" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/install)
  file(GLOB files CONFIGURE_DEPENDS ${A_FILES})
  file(REMOVE_RECURSE ${dir})
  foreach(f IN LISTS files)
    get_filename_component(name ${f} NAME)
    configure_file(${f} ${dir}/resources/Vorn/${name} COPYONLY)
  endforeach()
  set(${DIR_VAR} ${dir} PARENT_SCOPE)
endfunction()
