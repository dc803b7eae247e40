# Cross-build for 64-bit Windows with Debian's mingw-w64, run under Wine.
#   cmake --preset windows     (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix threading variant: its C++ runtime has std::thread and std::mutex
# (gcc 12's win32 variant has neither), which test code and GoogleTest may use.
set(CMAKE_C_COMPILER ${ORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_TRIPLET}-windres)
# Link-time optimisation needs the archiver wrappers of the same compiler.
set(CMAKE_C_COMPILER_AR ${ORVANE_MINGW_TRIPLET}-gcc-ar-posix)
set(CMAKE_CXX_COMPILER_AR ${ORVANE_MINGW_TRIPLET}-gcc-ar-posix)
set(CMAKE_C_COMPILER_RANLIB ${ORVANE_MINGW_TRIPLET}-gcc-ranlib-posix)
set(CMAKE_CXX_COMPILER_RANLIB ${ORVANE_MINGW_TRIPLET}-gcc-ranlib-posix)

# Headers and libraries from the target's tree only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Where the header-only libraries the tool uses (CLI11, nlohmann-json) are
# installed on the host; tools/CMakeLists.txt copies only their own folders.
set(ORVANE_HOST_INCLUDE_DIR /usr/include)

# Every .exe self-contained: libgcc, libstdc++ and winpthread linked in, so
# no mingw DLL has to travel with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the .exe files through Wine, in a prefix of the
# build's own (created on first use), never popping a window or an installer.
find_program(ORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(ORVANE_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)
set(ORVANE_WINE_ENV
    -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix)
if(ORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env ${ORVANE_WINE_ENV} ${ORVANE_WINE})
endif()
