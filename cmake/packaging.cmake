# The packages a user installs, made by CPack in the build directory: a Debian
# package of the native program (cpack -G DEB) and a zip of tarvex.exe
# (cpack -G ZIP). Only what the install rules name goes in, so the test
# programs never do.
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "The tarvex authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "tell whether ZOLP is installed in a version lower than the one given")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME tarvex-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME tarvex-${PROJECT_VERSION}-win64)
  endif()
  # Text files for Windows readers have CR LF line ends.
  configure_file(doc/README-windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt
                ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
          DESTINATION .)
else()
  set(CPACK_GENERATOR DEB)
  set(TARVEX_MAINTAINER "The tarvex authors <tarvex@example.org>"
      CACHE STRING "The Maintainer field of the Debian package")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVEX_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # CPack puts the summary above this as the first line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "tarvex answers one question for an installer script or a deployment job:
is the component ZOLP installed in a Wine prefix, and is its version lower
than the one given? The answer is the exit code; tarvex also prints what it
found. It reads the prefix's system.reg straight from the file, without
starting Wine, and changes nothing.")

  # Debian wants the manual page and the changelog compressed with gzip -9n.
  find_program(TARVEX_GZIP gzip REQUIRED)
  set(doc_dir ${CMAKE_CURRENT_BINARY_DIR}/doc)
  foreach(name tarvex.1 changelog)
    add_custom_command(OUTPUT ${doc_dir}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/doc/${name} ${doc_dir}/${name}
      COMMAND ${TARVEX_GZIP} -9nf ${doc_dir}/${name}
      DEPENDS ${CMAKE_SOURCE_DIR}/doc/${name}
      VERBATIM)
  endforeach()
  add_custom_target(tarvex_docs ALL
    DEPENDS ${doc_dir}/tarvex.1.gz ${doc_dir}/changelog.gz)

  # The copyright file in Debian's machine-readable format, from LICENSE:
  # Debian's short name for the MIT licence text is Expat.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${licence}")
  set(copyright_holder "${CMAKE_MATCH_1}")
  string(FIND "${licence}" "Permission is hereby granted" start)
  string(SUBSTRING "${licence}" ${start} -1 licence_text)
  string(STRIP "${licence_text}" licence_text)
  string(REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
  string(REPLACE "\n" "\n " licence_text "${licence_text}")
  file(WRITE ${doc_dir}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tarvex

Files: *
Copyright: ${copyright_holder}
License: Expat
 ${licence_text}
Comment: This is the MIT licence, as in the file LICENSE of the source.
")

  install(FILES ${doc_dir}/tarvex.1.gz DESTINATION share/man/man1)
  install(FILES ${doc_dir}/copyright ${doc_dir}/changelog.gz
          DESTINATION share/doc/tarvex)
  # Each override says why it is there.
  install(FILES doc/lintian-overrides DESTINATION share/lintian/overrides
          RENAME tarvex)
endif()

include(CPack)
