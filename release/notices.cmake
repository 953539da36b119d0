# Install step of the release: writes THIRD-PARTY-NOTICES.txt with the licence
# of every library the program links in statically. libexpat's is the COPYING
# of its source (QG_EXPAT_LICENCE); the compiler's runtime libraries are looked
# up through QG_CXX_COMPILER, and their licences are the copyright files of the
# Debian packages that installed them.
cmake_policy(VERSION 3.25)
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# The Debian package that installed FILE, and its version.
function(qg_owning_package file out_name out_version)
  file(REAL_PATH "${file}" real)
  execute_process(COMMAND dpkg-query -S "${real}" OUTPUT_VARIABLE owners RESULT_VARIABLE failed
                  ERROR_QUIET)
  if(failed)
    message(FATAL_ERROR "no installed package holds ${real}")
  endif()
  string(REGEX REPLACE "[,:].*" "" package "${owners}")
  execute_process(COMMAND dpkg-query -W -f=\${Version} "${package}" OUTPUT_VARIABLE version)
  set(${out_name} "${package}" PARENT_SCOPE)
  set(${out_version} "${version}" PARENT_SCOPE)
endfunction()

set(index "")
set(bodies "")
set(number 0)
# Adds one section: TITLE, where its text comes from (SOURCE), the text of FILE.
macro(qg_add_notice title source file)
  file(READ "${file}" text)
  math(EXPR number "${number} + 1")
  string(APPEND bodies
         "\n==============================================================================\n"
         "${number}. ${title}\n   (${source})\n"
         "==============================================================================\n\n"
         "${text}")
  string(APPEND index "  ${number}. ${title}\n")
endmacro()

if(NOT EXISTS "${QG_EXPAT_LICENCE}")
  message(FATAL_ERROR "expat's licence is not at ${QG_EXPAT_LICENCE}: "
                      "run tools/build-expat.sh for this prefix again")
endif()
qg_add_notice("libexpat ${QG_EXPAT_VERSION}, the XML parser" "COPYING of the expat source"
              "${QG_EXPAT_LICENCE}")

# Each group: a title, then the libraries (as the compiler finds them) whose
# packages' copyright files make its text.
set(groups
    "MinGW-w64 runtime and winpthreads|libmingw32.a,libmingwex.a,libmsvcrt.a,libwinpthread.a"
    "GCC runtime libraries libgcc and libstdc++, with the GCC Runtime Library Exception|libgcc.a,libgcc_eh.a,libstdc++.a"
)
set(done "")
foreach(group IN LISTS groups)
  string(REPLACE "|" ";" group "${group}")
  list(POP_FRONT group title)
  string(REPLACE "," ";" libraries "${group}")
  foreach(library IN LISTS libraries)
    execute_process(COMMAND "${QG_CXX_COMPILER}" -print-file-name=${library}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "${QG_CXX_COMPILER} does not find ${library}")
    endif()
    qg_owning_package("${path}" package version)
    set(copyright "/usr/share/doc/${package}/copyright")
    if(NOT EXISTS "${copyright}")
      message(FATAL_ERROR "package ${package} has no ${copyright}")
    endif()
    file(REAL_PATH "${copyright}" copyright)
    if(NOT copyright IN_LIST done)
      # A package's copyright file is given once, under the first group it serves.
      list(APPEND done "${copyright}")
      qg_add_notice("${title}" "copyright file of the Debian package ${package} ${version}"
                    "${copyright}")
    endif()
  endforeach()
endforeach()

file(WRITE "${root}/THIRD-PARTY-NOTICES.txt"
     "Third-party notices of quillgate.exe\n"
     "====================================\n\n"
     "quillgate.exe contains parts of the libraries below, linked in. Their\n"
     "licences follow in full, as their sources and packagers ship them.\n\n"
     "${index}${bodies}")
message(STATUS "Notices: ${root}/THIRD-PARTY-NOTICES.txt")
