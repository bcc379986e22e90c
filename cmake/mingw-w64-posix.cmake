# Cross-compiles Stadiolink for 64-bit Windows with the posix thread model
# mingw-w64 compilers, which the static Windows Qt was built with (its use of
# std::thread and std::mutex does not link with the win32 model). Programs are
# linked statically (no libstdc++, libgcc or winpthread DLLs) and run under
# wine, which ctest uses as the emulator.
#
#   cmake -S . -B build-windows -G Ninja \
#       -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake \
#       -DCMAKE_PREFIX_PATH=<Windows Qt prefix> \
#       -DQt5LinguistTools_DIR=/usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_prefix x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_mingw_prefix}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_mingw_prefix}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_mingw_prefix}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(_wine NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(_wine)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${_wine})
endif()
