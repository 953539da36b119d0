# The release users download: the package target makes
# quillgate-<version>-win32.zip in the build folder, holding the program, the
# user's README, the licence, the notices of the libraries linked into the
# program and SHA256SUMS over all of these. Included by the top CMakeLists.txt
# in Windows builds, after the launcher's folder.
set(QG_RELEASE_DIR ${CMAKE_CURRENT_LIST_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QG_RELEASE_SYSTEM win64)
else()
  set(QG_RELEASE_SYSTEM win32)
endif()

set(QG_VERSION ${PROJECT_VERSION})
configure_file(${QG_RELEASE_DIR}/README.txt ${CMAKE_BINARY_DIR}/release/README.txt @ONLY)

install(TARGETS quillgate RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/release/README.txt ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
# Put together when the package is made, from the licence files that the
# libraries' sources and the machine's packages carry; the sums come last.
get_filename_component(QG_EXPAT_PREFIX "${expat_DIR}/../../.." ABSOLUTE)
install(CODE "
  set(QG_CXX_COMPILER [[${CMAKE_CXX_COMPILER}]])
  set(QG_EXPAT_VERSION [[${expat_VERSION}]])
  set(QG_EXPAT_LICENCE [[${QG_EXPAT_PREFIX}/share/doc/expat/COPYING]])
")
install(SCRIPT ${QG_RELEASE_DIR}/notices.cmake)
install(SCRIPT ${QG_RELEASE_DIR}/checksums.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quillgate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quillgate-${PROJECT_VERSION}-${QG_RELEASE_SYSTEM})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
