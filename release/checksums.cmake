# Install step of the release: writes SHA256SUMS over every other file
# installed, in the format `sha256sum -c` reads, sorted by name.
cmake_policy(VERSION 3.25)
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(name IN LISTS files)
  file(SHA256 "${root}/${name}" sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE "${root}/SHA256SUMS" "${sums}")
message(STATUS "Checksums: ${root}/SHA256SUMS")
