# Build for 32-bit x86 Linux on an x86_64 Linux machine (gcc -m32), every
# program linked statically. Where the machine cannot run i386 programs itself
# (a kernel without 32-bit support), they run through qemu-i386-static, the
# emulator CMake puts in front of tests and of test discovery.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

# -m32 with the compiler itself, so that flags given on the command line
# (CMAKE_C_FLAGS and the like) do not drop it.
set(CMAKE_C_COMPILER gcc -m32)
set(CMAKE_CXX_COMPILER g++ -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Packages built for this target (libexpat, GoogleTest) are installed in the
# prefixes of CMAKE_PREFIX_PATH; they are the only roots searched, so that the
# build machine's 64-bit packages are not found.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Whether this machine runs an i386 program: a static one built and started
# while the emulator is not decided yet (the first configuration, or after
# -UCMAKE_CROSSCOMPILING_EMULATOR).
get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND NOT in_try_compile)
  set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
  file(MAKE_DIRECTORY ${probe_dir})
  file(WRITE ${probe_dir}/probe.c "int main(void) { return 0; }\n")
  execute_process(COMMAND gcc -m32 -static probe.c -o probe
                  WORKING_DIRECTORY ${probe_dir} RESULT_VARIABLE built OUTPUT_QUIET ERROR_QUIET)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "gcc -m32 -static cannot build a program: "
                        "gcc-multilib and g++-multilib are needed (tools/install-deps.sh i386)")
  endif()
  execute_process(COMMAND ${probe_dir}/probe RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
  if(ran EQUAL 0)
    set(CMAKE_CROSSCOMPILING_EMULATOR "" CACHE STRING "Runs the i386 programs (none: natively)")
  else()
    find_program(QG_QEMU_I386 qemu-i386-static REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QG_QEMU_I386} CACHE STRING
        "Runs the i386 programs (this machine cannot run them itself)")
  endif()
endif()
