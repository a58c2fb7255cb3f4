# The program's version and its release: the installer, its signature and the version text that
# the update server publishes.
#
# The version is written once, in project() of the top CMakeLists.txt; -DPIPSHIFT_VERSION=<text>
# builds another. It reaches the code through a unit of its own that only the program links
# (pipshift_version_unit), so a second program of another version is one more link of the same
# libraries.

if(NOT DEFINED PIPSHIFT_VERSION OR PIPSHIFT_VERSION STREQUAL "")
  set(PIPSHIFT_VERSION ${PROJECT_VERSION})
endif()
# It is published as plain text, compared byte for byte and written into a C string and a script.
if(NOT PIPSHIFT_VERSION MATCHES "^[A-Za-z0-9][A-Za-z0-9.+~-]*$")
  message(FATAL_ERROR "PIPSHIFT_VERSION \"${PIPSHIFT_VERSION}\" is not a version")
endif()
message(STATUS "Pipshift version ${PIPSHIFT_VERSION}")

# The version one step on: the end-to-end test's "new" program. 1.0.0 gives 1.0.1.
if(PIPSHIFT_VERSION MATCHES "^(.*[^0-9])?([0-9]+)$")
  math(EXPR next_patch "${CMAKE_MATCH_2} + 1")
  set(PIPSHIFT_NEXT_VERSION "${CMAKE_MATCH_1}${next_patch}")
else()
  set(PIPSHIFT_NEXT_VERSION "${PIPSHIFT_VERSION}.1")
endif()

# The release key: -DPIPSHIFT_RELEASE_KEY=<secret key file> (made with pipshift-release keygen and
# kept off this machine's build folders). Without one the build makes a development key pair in
# the build folder, trusted only by the programs of this build folder.
set(PIPSHIFT_RELEASE_KEY "" CACHE FILEPATH
    "The maker's secret release key; empty: a development key made in the build folder")
if(PIPSHIFT_RELEASE_KEY)
  get_filename_component(PIPSHIFT_SIGNING_KEY "${PIPSHIFT_RELEASE_KEY}" ABSOLUTE)
  if(NOT EXISTS "${PIPSHIFT_SIGNING_KEY}")
    message(FATAL_ERROR "PIPSHIFT_RELEASE_KEY: no such file ${PIPSHIFT_SIGNING_KEY}")
  endif()
  set(PIPSHIFT_DEVELOPMENT_KEY OFF)
else()
  set(PIPSHIFT_SIGNING_KEY "${CMAKE_BINARY_DIR}/release-key/development.key")
  set(PIPSHIFT_DEVELOPMENT_KEY ON)
endif()

# The product word and the installer's name, as the code knows them.
file(STRINGS "${CMAKE_SOURCE_DIR}/core/product/product.h" product_defines
     REGEX "^#define PIPSHIFT_[A-Z_]+ \"[^\"]*\"$")
foreach(line IN LISTS product_defines)
  if(line MATCHES "^#define (PIPSHIFT_[A-Z_]+) \"([^\"]*)\"$")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
if(NOT PIPSHIFT_PRODUCT_WORD OR NOT PIPSHIFT_INSTALLER_FILE)
  message(FATAL_ERROR "core/product/product.h names no product word or installer")
endif()

# The files an installer carries besides the program, as targets: the one list to change when the
# program needs more or fewer files beside it.
set(PIPSHIFT_RELEASE_PAYLOAD "")

# pipshift_version_unit(<object library> <version>): the unit that gives a program its version.
function(pipshift_version_unit name version)
  set(unit "${CMAKE_BINARY_DIR}/generated/version-${version}.cpp")
  file(CONFIGURE OUTPUT "${unit}" CONTENT
"// Made by the build from the version it was given; not to be edited.
#include \"product/product.h\"

const char* programversion() {
  return \"${version}\";
}
")
  add_library(${name} OBJECT "${unit}")
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/core)
  set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endfunction()

pipshift_version_unit(pipshift_version ${PIPSHIFT_VERSION})

# pipshift_release(<target> PROGRAM <executable target> DESTINATION <folder> VERSION <text> [ALL])
#
# Makes <folder>/pipshift/ (the product word) holding the version text (no line end), the installer,
# its signature and the signed release manifest (pipshiftrelease.txt), ready for
# pipshift-server --root <folder>.
function(pipshift_release name)
  cmake_parse_arguments(R "ALL" "PROGRAM;DESTINATION;VERSION" "" ${ARGN})
  set(word ${PIPSHIFT_PRODUCT_WORD})
  set(installer ${PIPSHIFT_INSTALLER_FILE})
  set(dir "${R_DESTINATION}/${word}")
  set(extra)
  foreach(target IN LISTS PIPSHIFT_RELEASE_PAYLOAD)
    list(APPEND extra "$<TARGET_FILE:${target}>")
  endforeach()
  set(outputs "${dir}/${word}version.txt" "${dir}/${installer}" "${dir}/${installer}.sig"
              "${dir}/${word}release.txt")
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND ${CMAKE_COMMAND} "-DSTUB=${CMAKE_SOURCE_DIR}/desktop/installer/pshsetup.sh.in" "-DDIR=${dir}"
            "-DVERSION=${R_VERSION}" "-DPROGRAM=$<TARGET_FILE:${R_PROGRAM}>"
            "-DPROGRAM_NAME=$<TARGET_FILE_NAME:${R_PROGRAM}>"
            "-DBACKUP=$<TARGET_FILE_NAME:${R_PROGRAM}>.BAK" "-DEXTRA=$<JOIN:${extra},|>"
            "-DINSTALLER=${installer}" "-DVERSION_FILE=${word}version.txt"
            "-DMANIFEST_FILE=${word}release.txt" "-DPRODUCT=${word}"
            "-DSIGNER=$<TARGET_FILE:pipshift-release>" "-DKEY=${PIPSHIFT_SIGNING_KEY}"
            -P "${CMAKE_SOURCE_DIR}/cmake/MakeRelease.cmake"
    DEPENDS ${R_PROGRAM} ${PIPSHIFT_RELEASE_PAYLOAD} pipshift-release pipshift_releasekey
            "${PIPSHIFT_SIGNING_KEY}"
            "${CMAKE_SOURCE_DIR}/desktop/installer/pshsetup.sh.in"
            "${CMAKE_SOURCE_DIR}/cmake/MakeRelease.cmake"
    COMMENT "Making the release of ${R_PROGRAM} ${R_VERSION} in ${dir}"
    VERBATIM)
  if(R_ALL)
    add_custom_target(${name} ALL DEPENDS ${outputs})
  else()
    add_custom_target(${name} DEPENDS ${outputs})
  endif()
endfunction()
