# `ombrix` as a Debian package (cpack -G DEB, run by scripts/package): the command in
# /usr/bin, the add-in module where the command looks for it (/usr/lib/ombrix/ombrix.so,
# beside ../lib/ombrix of the program) and the example models.
install(TARGETS ombrix RUNTIME DESTINATION bin)
install(TARGETS ombrix_addin LIBRARY DESTINATION lib/ombrix)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION share/ombrix/examples
        FILES_MATCHING PATTERN "*.xlsx" PATTERN "*.csv" PATTERN "*.py")

# What Debian users expect of a package: the manual page ombrix(1), made from the commands'
# help texts whenever the command is rebuilt, bash completion, the copyright and changelog.
# The changelog's latest entry is for the version in VERSION: a new version needs its entry.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
if(NOT changelog_head MATCHES "^ombrix \\(([^)]*)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's latest entry (${changelog_head}) is not for version "
                      "${PROJECT_VERSION} (VERSION): add an entry for it")
endif()
set(ombrix_doc_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ombrix_doc_dir})
add_custom_command(
  OUTPUT ${ombrix_doc_dir}/ombrix.1 ${ombrix_doc_dir}/ombrix.1.gz ${ombrix_doc_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -DOMBRIX=$<TARGET_FILE:ombrix> -DVERSION=${PROJECT_VERSION}
          -DCHANGELOG=${PROJECT_SOURCE_DIR}/packaging/changelog -DOUT_DIR=${ombrix_doc_dir}
          -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
  DEPENDS ombrix ${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
  VERBATIM)
add_custom_target(ombrix_manual ALL DEPENDS ${ombrix_doc_dir}/ombrix.1.gz ${ombrix_doc_dir}/changelog.gz)
install(FILES ${ombrix_doc_dir}/ombrix.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ombrix.bash-completion DESTINATION share/bash-completion/completions
        RENAME ombrix)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${ombrix_doc_dir}/changelog.gz DESTINATION share/doc/ombrix)

set(CPACK_PACKAGE_NAME ombrix)
set(CPACK_PACKAGE_VENDOR Quenmark)
set(CPACK_PACKAGE_CONTACT "Quenmark <ombrix@quenmark.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Genetic-algorithm optimiser for spreadsheet models")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The Ombrix spreadsheet add-in with its own host: `ombrix solve BOOK`\n opens an .xlsx or .csv model, runs the add-in's Solve on it and saves\n the result, with an answer report and a convergence chart if asked.")
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
