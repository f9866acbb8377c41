# The tools as a package: --help and --version, the man pages, the install
# tree and the bash completions.
find_program(DSD_MANDOC mandoc)
if(NOT DSD_MANDOC)
  set(DSD_MANDOC "")
endif()

add_executable(pkg_test pkg_test.cpp)
target_link_libraries(pkg_test PRIVATE dsd_convert dsd_rate dsd_testgen dsd_test_support
  GTest::gtest_main)
target_compile_definitions(pkg_test PRIVATE
  DSD_PROJECT_VERSION="${PROJECT_VERSION}"
  DSD_MAN_DIR="${PROJECT_SOURCE_DIR}/man"
  DSD_MANDOC="${DSD_MANDOC}")
dsd_test_uses_programs(pkg_test)
# Both message headers are called messages.hpp: name them by directory.
target_include_directories(pkg_test PRIVATE ${PROJECT_SOURCE_DIR})
gtest_discover_tests(pkg_test)

set(DSD_PKG_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/pkg)
set(DSD_TEST_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/pkg-install)

set(DSD_TOOL_FILES "")
foreach(tool IN LISTS DSD_TOOLS)
  list(APPEND DSD_TOOL_FILES $<TARGET_FILE:${tool}>)
endforeach()
add_test(NAME pkg_options_output_error
  COMMAND bash ${DSD_PKG_SCRIPTS}/options_output_error.sh ${DSD_TOOL_FILES})

add_test(NAME pkg_man_lint COMMAND bash ${DSD_PKG_SCRIPTS}/man_lint.sh ${PROJECT_SOURCE_DIR}/man)
add_test(NAME pkg_completion
  COMMAND bash ${DSD_PKG_SCRIPTS}/completion.sh ${PROJECT_SOURCE_DIR}/completions/dsdtools.bash)
add_test(NAME pkg_completion_fish
  COMMAND bash ${DSD_PKG_SCRIPTS}/completion_fish.sh ${PROJECT_SOURCE_DIR}/completions/dsdtools.fish)
find_program(DSD_ZSH zsh)
if(DSD_ZSH)
  add_test(NAME pkg_completion_zsh
    COMMAND ${DSD_ZSH} ${DSD_PKG_SCRIPTS}/completion_zsh.sh ${PROJECT_SOURCE_DIR}/completions/_dsdtools)
else()
  add_test(NAME pkg_completion_zsh
    COMMAND bash -c "echo 'SKIP: zsh is not installed (Debian package zsh)'; exit 77")
endif()

# One install into a scratch prefix, shared by the tests that inspect it.
add_test(NAME pkg_install
  COMMAND bash -c "rm -rf \"$1\" && \"$2\" --install \"$3\" --prefix \"$1\" >/dev/null"
          bash ${DSD_TEST_PREFIX} ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR})
add_test(NAME pkg_install_cleanup COMMAND ${CMAKE_COMMAND} -E rm -rf ${DSD_TEST_PREFIX})
set_tests_properties(pkg_install PROPERTIES FIXTURES_SETUP pkg_installed)
set_tests_properties(pkg_install_cleanup PROPERTIES FIXTURES_CLEANUP pkg_installed)

add_test(NAME pkg_install_tree
  COMMAND bash ${DSD_PKG_SCRIPTS}/install_tree.sh ${DSD_TEST_PREFIX} ${PROJECT_VERSION}
          ${DSD_TOOLS})
add_test(NAME pkg_completion_installed
  COMMAND bash ${DSD_PKG_SCRIPTS}/completion_loader.sh ${DSD_TEST_PREFIX} ${DSD_TOOLS})
set_tests_properties(pkg_install_tree pkg_completion_installed
  PROPERTIES FIXTURES_REQUIRED pkg_installed)
set_tests_properties(pkg_man_lint pkg_completion_installed pkg_options_output_error
  pkg_completion_fish pkg_completion_zsh PROPERTIES SKIP_RETURN_CODE 77)
set_tests_properties(pkg_options_output_error pkg_install_tree
  PROPERTIES ENVIRONMENT "DSD_EMULATOR=${DSD_SHELL_EMULATOR}")
