# Makes one release folder: the installer, its signature, its signed manifest and the version text.
#
#   cmake -DSTUB=<installer stub> -DDIR=<release folder> -DVERSION=<text> -DPROGRAM=<file>
#         -DPROGRAM_NAME=<name> -DBACKUP=<name> -DEXTRA=<file|file...> -DINSTALLER=<name>
#         -DVERSION_FILE=<name> -DMANIFEST_FILE=<name> -DPRODUCT=<word>
#         -DSIGNER=<pipshift-release> -DKEY=<secret key file>
#         -P MakeRelease.cmake
#
# The installer is the stub followed by a gzip'd tar of the program (under PROGRAM_NAME) and the
# EXTRA files. Each result is made under a temporary name and renamed into place, the version text
# last: a server that publishes the folder while it is remade never announces a version whose
# files are not there yet.
cmake_minimum_required(VERSION 3.25)

foreach(var STUB DIR VERSION PROGRAM PROGRAM_NAME BACKUP INSTALLER VERSION_FILE MANIFEST_FILE
            PRODUCT SIGNER KEY)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "MakeRelease.cmake: ${var} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" EXTRA "${EXTRA}")
# A program offers only a release whose version it can compare with its own.
if(NOT VERSION MATCHES "^[0-9]+(\\.[0-9]+)*$" OR VERSION MATCHES "^.................................")
  message(FATAL_ERROR "MakeRelease.cmake: a release needs a dotted version (digits and dots, "
                      "at most 32 characters), not \"${VERSION}\"")
endif()

# The names go into a shell script and onto the player's disk: plain file names only, and never
# the player's own files.
set(names ${PROGRAM_NAME})
foreach(file IN LISTS EXTRA)
  get_filename_component(name "${file}" NAME)
  list(APPEND names ${name})
endforeach()
foreach(name IN LISTS names BACKUP)
  if(NOT name MATCHES "^[A-Za-z0-9_][A-Za-z0-9._+-]*$" OR name MATCHES "\\.(ini|tld|bad)$" OR
     name STREQUAL "temp.txt")
    message(FATAL_ERROR "MakeRelease.cmake: \"${name}\" cannot be installed")
  endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(LENGTH names count)
list(LENGTH EXTRA extras)
math(EXPR expected "${extras} + 1")
if(NOT count EQUAL expected)
  message(FATAL_ERROR "MakeRelease.cmake: two files of the installer share a name: ${names}")
endif()

set(staging "${DIR}/.staging")
file(REMOVE_RECURSE "${staging}")
file(MAKE_DIRECTORY "${staging}/files")
file(COPY_FILE "${PROGRAM}" "${staging}/files/${PROGRAM_NAME}")
file(CHMOD "${staging}/files/${PROGRAM_NAME}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE
     OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
foreach(file IN LISTS EXTRA)
  get_filename_component(name "${file}" NAME)
  file(COPY_FILE "${file}" "${staging}/files/${name}")
endforeach()

# Fixed times and owners: the same build makes the same installer.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar czf ../payload.tar.gz --format=gnutar --mtime=2000-01-01 --
          ${names}
  WORKING_DIRECTORY "${staging}/files" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "MakeRelease.cmake: could not pack the installer's files")
endif()

file(READ "${STUB}" stub)
string(REPLACE ";" " " FILES "${names}")
set(PAYLOAD_LINE 0)
string(CONFIGURE "${stub}" configured @ONLY)
string(REGEX MATCHALL "\n" lines "${configured}")
list(LENGTH lines PAYLOAD_LINE)
math(EXPR PAYLOAD_LINE "${PAYLOAD_LINE} + 1")
string(CONFIGURE "${stub}" configured @ONLY)
if(NOT configured MATCHES "\n$")
  message(FATAL_ERROR "MakeRelease.cmake: the installer stub must end with a line end")
endif()
file(WRITE "${staging}/stub.sh" "${configured}")

set(installer "${staging}/${INSTALLER}")
execute_process(COMMAND cat "${staging}/stub.sh" "${staging}/payload.tar.gz"
                OUTPUT_FILE "${installer}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "MakeRelease.cmake: could not join the installer")
endif()
file(CHMOD "${installer}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

execute_process(COMMAND "${SIGNER}" sign "${KEY}" "${installer}" "${installer}.sig"
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "MakeRelease.cmake: could not sign the installer")
endif()

# The manifest vouches for this version and these very bytes: a program offered an update takes
# nothing else. The detached signature stays for programs that know only that.
execute_process(COMMAND "${SIGNER}" manifest "${KEY}" "${installer}" "${PRODUCT}" "${VERSION}"
                        "${staging}/${MANIFEST_FILE}"
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "MakeRelease.cmake: could not sign the release manifest")
endif()

# The published version text: the version and nothing after it.
file(WRITE "${staging}/${VERSION_FILE}" "${VERSION}")

file(RENAME "${installer}" "${DIR}/${INSTALLER}")
file(RENAME "${installer}.sig" "${DIR}/${INSTALLER}.sig")
file(RENAME "${staging}/${MANIFEST_FILE}" "${DIR}/${MANIFEST_FILE}")
file(RENAME "${staging}/${VERSION_FILE}" "${DIR}/${VERSION_FILE}")
file(REMOVE_RECURSE "${staging}")
