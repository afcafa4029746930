# tarnwick.1, made from docs/cli.md at build time: the page is written once,
# as Markdown, and the man page follows it.
find_program(TARNWICK_AWK NAMES awk mawk gawk REQUIRED)
set(TARNWICK_MAN_PAGE ${PROJECT_BINARY_DIR}/man/tarnwick.1)
add_custom_command(
  OUTPUT ${TARNWICK_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
  COMMAND ${TARNWICK_AWK} -v name=tarnwick -v version=${PROJECT_VERSION}
          -v "summary=list every file and directory of an NTFS volume"
          -f ${CMAKE_CURRENT_LIST_DIR}/markdown-to-man.awk ${PROJECT_SOURCE_DIR}/docs/cli.md
          > ${TARNWICK_MAN_PAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/cli.md ${CMAKE_CURRENT_LIST_DIR}/markdown-to-man.awk
  COMMENT "Making the man page tarnwick.1 from docs/cli.md")
add_custom_target(tarnwick-man ALL DEPENDS ${TARNWICK_MAN_PAGE})
