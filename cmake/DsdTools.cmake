# The nine programs as installed: their name and version, the man pages, the
# bash completions, and the Debian package made from them. The version is the
# project()'s; nothing here repeats it.
include(GNUInstallDirs)

set(DSD_TOOLS
  dsf-dff-convert
  dsf-dff256-dummy
  dff-dsf-convert
  dff-dst-decode
  dff-dsf-split
  wav-rate-set
  dff-rate-set-64
  dff-rate-set-128
  dff-rate-set-256)

# The page that documents each tool; the three DFF rate tools share one.
set(DSD_PAGE_dsf-dff-convert dsf-dff-convert)
set(DSD_PAGE_dsf-dff256-dummy dsf-dff256-dummy)
set(DSD_PAGE_dff-dsf-convert dff-dsf-convert)
set(DSD_PAGE_dff-dst-decode dff-dst-decode)
set(DSD_PAGE_dff-dsf-split dff-dsf-split)
set(DSD_PAGE_wav-rate-set wav-rate-set)
set(DSD_PAGE_dff-rate-set-64 dff-rate-set-64)
set(DSD_PAGE_dff-rate-set-128 dff-rate-set-64)
set(DSD_PAGE_dff-rate-set-256 dff-rate-set-64)

set(DSD_MAN_SOURCE_DIR ${PROJECT_SOURCE_DIR}/man)
set(DSD_MAN_BINARY_DIR ${PROJECT_BINARY_DIR}/man)
set(DSD_COMPLETION_FILE ${PROJECT_SOURCE_DIR}/completions/dsdtools.bash)
set(DSD_COMPLETION_BINARY_DIR ${PROJECT_BINARY_DIR}/completions)
file(MAKE_DIRECTORY ${DSD_MAN_BINARY_DIR} ${DSD_COMPLETION_BINARY_DIR}/fish)

# Man pages are installed gzipped, as Debian expects and man(1) reads; -n
# keeps the name and time out of the archive, so builds are reproducible.
find_program(DSD_GZIP gzip REQUIRED)
set(DSD_MAN_PAGES "")
foreach(tool IN LISTS DSD_TOOLS)
  set(page ${DSD_PAGE_${tool}})
  list(FIND DSD_MAN_PAGES ${page} known)
  if(known EQUAL -1)
    list(APPEND DSD_MAN_PAGES ${page})
  endif()
endforeach()
set(DSD_MAN_GZ "")
foreach(page IN LISTS DSD_MAN_PAGES)
  add_custom_command(
    OUTPUT ${DSD_MAN_BINARY_DIR}/${page}.1.gz
    COMMAND ${DSD_GZIP} -9 -n -c ${DSD_MAN_SOURCE_DIR}/${page}.1 > ${DSD_MAN_BINARY_DIR}/${page}.1.gz
    DEPENDS ${DSD_MAN_SOURCE_DIR}/${page}.1
    COMMENT "Compressing man page ${page}.1")
  list(APPEND DSD_MAN_GZ ${DSD_MAN_BINARY_DIR}/${page}.1.gz)
endforeach()
add_custom_target(man-pages ALL DEPENDS ${DSD_MAN_GZ})

foreach(tool IN LISTS DSD_TOOLS)
  if(NOT TARGET ${tool})
    message(FATAL_ERROR "${tool} is not a target of this project")
  endif()
  target_compile_definitions(${tool} PRIVATE DSD_TOOL_NAME="${tool}")
  install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(page ${DSD_PAGE_${tool}})
  if(page STREQUAL tool)
    install(FILES ${DSD_MAN_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    # Another name for a shared page: a link beside it.
    file(CREATE_LINK ${page}.1.gz ${DSD_MAN_BINARY_DIR}/${tool}.1.gz SYMBOLIC)
    install(FILES ${DSD_MAN_BINARY_DIR}/${tool}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()

  # bash-completion loads completions/NAME when NAME is first completed;
  # every name leads to the one shared file.
  file(CREATE_LINK dsdtools ${DSD_COMPLETION_BINARY_DIR}/${tool} SYMBOLIC)
  install(FILES ${DSD_COMPLETION_BINARY_DIR}/${tool}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  # fish does the same with vendor_completions.d/NAME.fish.
  file(CREATE_LINK dsdtools.fish ${DSD_COMPLETION_BINARY_DIR}/fish/${tool}.fish SYMBOLIC)
  install(FILES ${DSD_COMPLETION_BINARY_DIR}/fish/${tool}.fish
          DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endforeach()
install(FILES ${DSD_COMPLETION_FILE}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME dsdtools)
install(FILES ${PROJECT_SOURCE_DIR}/completions/dsdtools.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
# zsh's compinit reads the #compdef line of one file for all the names. A
# package for /usr puts it where Debian's zsh looks for packaged functions;
# any other prefix in site-functions, zsh's own directory for local ones.
# Decided at install time, so cpack's /usr counts.
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(DSD_ZSH_COMPLETION_DIR \"${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions\")
  else()
    set(DSD_ZSH_COMPLETION_DIR \"${CMAKE_INSTALL_DATADIR}/zsh/site-functions\")
  endif()")
install(FILES ${PROJECT_SOURCE_DIR}/completions/_dsdtools DESTINATION \${DSD_ZSH_COMPLETION_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB (from the build directory) makes dsdtools_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME dsdtools)
set(CPACK_PACKAGE_VENDOR "dsdtools developers")
set(CPACK_PACKAGE_CONTACT "dsdtools developers <dsdtools@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line tools for DSF, DFF and WAV audio files")
set(CPACK_PACKAGE_DESCRIPTION [=[
Nine small programs for one-bit (DSD) and PCM audio files.
dsf-dff-convert and dsf-dff256-dummy convert stereo DSF files to DSDIFF
(DFF) files and keep their ID3 tags; dff-dsf-convert converts DSDIFF
files of 1 to 6 channels back to DSF, tag included, DST-compressed ones
(SACD rips) too, and dff-dst-decode decodes those into uncompressed
DSDIFF files. dff-dsf-split splits an SACD edited master (one DSDIFF file
of a whole album, its tracks marked inside it or in a CUE sheet) into
gapless, tagged DSF tracks. dff-rate-set-64, dff-rate-set-128
and dff-rate-set-256 relabel the sampling rate of DFF files in place, and
wav-rate-set declares WAV files at 44100 Hz in place.]=])
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
