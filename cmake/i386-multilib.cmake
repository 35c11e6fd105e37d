# A 32-bit x86 build on an x86-64 Debian host, so that the tools are tested
# where size_t and long have 32 bits: GCC with -m32 and the C and C++ runtime
# of g++-multilib, and the i386 libraries (libspectrum, GoogleTest, bzip2,
# libsndfile, libpng and what they need) unpacked under QUILLKIT_I386_SYSROOT, which dev.sh fills.
# The programs run natively, with the unpacked libraries found through their
# run path.
#
#   cmake -S . -B build-i386/quillkit \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/i386-multilib.cmake \
#     -DQUILLKIT_I386_SYSROOT=$PWD/build-i386/sysroot
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLKIT_I386_SYSROOT)
if(NOT QUILLKIT_I386_SYSROOT)
  message(FATAL_ERROR "Set QUILLKIT_I386_SYSROOT to the folder of the unpacked i386 packages")
endif()
set(sysroot "${QUILLKIT_I386_SYSROOT}")

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# Libraries, headers and CMake packages come from the unpacked i386 packages
# only, never from the host's x86-64 ones; programs from the host.
set(CMAKE_FIND_ROOT_PATH "${sysroot}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    "${sysroot}/usr/lib/i386-linux-gnu/pkgconfig:${sysroot}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${sysroot}")
set(ENV{PKG_CONFIG_PATH} "")

# Headers that pkg-config leaves out as "system" ones (libspectrum.h and the
# gcrypt.h and gpg-error.h it includes), ahead of the host's x86-64 copies.
# Neither folder holds C library or C++ library headers (dev.sh leaves those
# packages out).
foreach(dir "${sysroot}/usr/include/i386-linux-gnu" "${sysroot}/usr/include")
  string(APPEND CMAKE_C_FLAGS_INIT " -isystem ${dir}")
  string(APPEND CMAKE_CXX_FLAGS_INIT " -isystem ${dir}")
endforeach()

# The unpacked libraries are not in the loader's search path: name their
# folders in every program, as DT_RPATH, which (unlike DT_RUNPATH) also
# serves the libraries' own dependencies, such as libspectrum's glib.
set(libdirs "${sysroot}/usr/lib/i386-linux-gnu" "${sysroot}/lib/i386-linux-gnu")
foreach(dir IN LISTS libdirs)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath,${dir} -Wl,-rpath-link,${dir}")
endforeach()
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--disable-new-dtags")

# Whether this machine runs the programs built here is only known after the
# build (dev.sh may have to register an emulator for them first), so their
# tests are listed when ctest runs, not by running each one as it is linked.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
