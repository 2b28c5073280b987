# The shipping build uses the win32 thread model: the posix one pulls in
# GetTickCount64 and other imports that Windows 98, 2000 and XP lack.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELM_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KELM_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KELM_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${KELM_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KELM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
