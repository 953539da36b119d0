# libexpat: Debian's package on Linux (FindEXPAT), a static cross build made by
# tools/build-expat.sh for Windows (its CMake package config, expat::expat).
if(WIN32)
  find_package(expat CONFIG REQUIRED)
  set(QG_EXPAT_TARGET expat::expat)
else()
  find_package(EXPAT REQUIRED)
  set(QG_EXPAT_TARGET EXPAT::EXPAT)
endif()
