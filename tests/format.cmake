# The sources stay as clang-format leaves them (the repository's .clang-format).
find_program(CLANG_FORMAT clang-format)
if(CLANG_FORMAT)
  file(GLOB_RECURSE DSD_FORMATTED_SOURCES CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/common/*.[ch]pp ${PROJECT_SOURCE_DIR}/formats/*.[ch]pp
    ${PROJECT_SOURCE_DIR}/kernels/*.[ch]pp ${PROJECT_SOURCE_DIR}/dst/*.[ch]pp
    ${PROJECT_SOURCE_DIR}/bench/*.[ch]pp ${PROJECT_SOURCE_DIR}/convert/*.[ch]pp
    ${PROJECT_SOURCE_DIR}/rate/*.[ch]pp ${PROJECT_SOURCE_DIR}/tests/*.[ch]pp
    ${PROJECT_SOURCE_DIR}/fuzz/*.[ch]pp)
  add_test(NAME clang_format
    COMMAND ${CLANG_FORMAT} --dry-run -Werror ${DSD_FORMATTED_SOURCES})
endif()
