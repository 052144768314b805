# Cross-builds the Windows x86_64 executables with Debian's mingw-w64 and
# runs them (tests included) under wine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QZ_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread flavour: GoogleTest does not build with the win32 one, and
# the unsuffixed compiler names point at win32.
set(CMAKE_C_COMPILER ${QZ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the .exe and the stand-in DLL need no libstdc++-6.dll,
# libgcc_s_seh-1.dll or libwinpthread-1.dll beside them (without them a
# dynamically linked exe exits 53 under wine, silently).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# ctest runs every test command through wine; tests are listed at ctest time,
# so building never needs wine.
find_program(QZ_WINE NAMES wine wine64 NO_CMAKE_FIND_ROOT_PATH)
if(QZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QZ_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
