# Run by CPack after packaging: the debug symbol package CPack writes lists its
# files in md5sums by their staging paths and has no documentation folder. Its
# md5sums are written anew and its documentation points to the program's, as
# Debian's own -dbgsym packages do.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-repair")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK pmxdiag "${tree}/usr/share/doc/pmxdiag-dbgsym" SYMBOLIC)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    if(NOT IS_SYMLINK "${tree}/${f}")
      file(MD5 "${tree}/${f}" md5)
      string(APPEND sums "${md5}  ${f}\n")
    endif()
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  execute_process(COMMAND dpkg-deb --root-owner-group -b "${tree}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
