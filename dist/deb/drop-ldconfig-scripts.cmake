# Run by cpack after the packages are made. CPack writes postinst and postrm
# that call ldconfig into a package with a library in /usr/lib, and offers
# no way to leave them out; dpkg's ldconfig trigger keeps the linker cache,
# so every package with such a script is put together again without it.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(drop)
  foreach(script postinst postrm)
    execute_process(COMMAND ${DPKG_DEB} --info ${deb} ${script}
                    OUTPUT_VARIABLE text ERROR_QUIET RESULT_VARIABLE status)
    if(status EQUAL 0 AND text MATCHES "ldconfig")
      list(APPEND drop ${script})
    endif()
  endforeach()
  if(NOT drop)
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  foreach(script IN LISTS drop)
    file(REMOVE ${tree}/DEBIAN/${script})
  endforeach()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zgzip --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
  get_filename_component(name ${deb} NAME)
  message(STATUS "${name}: without the ldconfig calls (${drop}); the trigger keeps the cache")
endforeach()
