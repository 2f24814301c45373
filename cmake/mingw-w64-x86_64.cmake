# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PLG_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PLG_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLG_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PLG_MINGW_PREFIX}-windres)
set(PLG_MC_COMPILER ${PLG_MINGW_PREFIX}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${PLG_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Programs and the DLL must run on a bare Windows machine: the GCC runtime,
# the C++ library and winpthread are linked in. The linker writes no build
# time (COFF header, export directory, and the checksum over them), so that
# the same commit gives the same bytes wherever and whenever it is built
# (scripts/check-reproducible.sh).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
