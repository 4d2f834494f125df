# Shared by the mingw-w64 toolchain files, which set CMAKE_SYSTEM_PROCESSOR
# (i686 or x86_64) and include this. Uses the posix-thread compilers (the
# win32-thread ones lack std::mutex and std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(KESTRIN_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run through the one script that knows how Wine starts here.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh run)
