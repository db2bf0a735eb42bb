# Runs inside cpack (DEB), after the files are staged and before the package
# is made: what dh_strip and dh_shlibdeps would do in a Debian source package.
set(staged "${CPACK_TEMPORARY_DIRECTORY}${CPACK_QUILLFEN_EXECUTABLE}")
if(NOT EXISTS "${staged}")
  message(FATAL_ERROR "DebianBinary.cmake: ${staged} is not staged")
endif()

# The debug information goes to a file beside the .deb; the packaged
# executable keeps only a link to it by name and checksum.
set(debug "${CPACK_PACKAGE_DIRECTORY}/QuillfenMac.debug")
execute_process(COMMAND objcopy --only-keep-debug --compress-debug-sections "${staged}" "${debug}"
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded "${staged}"
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND objcopy "--add-gnu-debuglink=${debug}" "${staged}" COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD "${debug}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# dpkg-shlibdeps needs a debian/control to stand in, and a DEBIAN folder to
# tell where the package's root is; it prints "shlibs:Depends=libc6 (>= 2.34), ...".
set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(MAKE_DIRECTORY "${work}/debian")
file(MAKE_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}/DEBIAN")
file(WRITE "${work}/debian/control" "Source: ${CPACK_PACKAGE_NAME}\n\nPackage: ${CPACK_PACKAGE_NAME}\nArchitecture: any\n")
execute_process(COMMAND dpkg-shlibdeps -O "${staged}"
                WORKING_DIRECTORY "${work}" OUTPUT_VARIABLE shlibs COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${CPACK_TEMPORARY_DIRECTORY}/DEBIAN")
string(REGEX REPLACE "^shlibs:Depends=([^\n]*).*$" "\\1" shlibs "${shlibs}")
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${shlibs}")
