# Cross build of the Windows program with Debian's mingw-w64 (posix thread model,
# so std::thread and std::mutex exist), statically linked so the program needs no
# compiler runtime DLLs on a bare Windows 10.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The linker's choices, stated rather than left to its defaults:
#  --no-insert-timestamp   the PE header's time stamp is 0, not the time of the link,
#                          so two builds of the same sources give the same bytes;
#  --dynamicbase, --high-entropy-va
#                          the program may be loaded anywhere in the 64-bit address
#                          space (ASLR), which needs its relocations kept;
#  --nxcompat              data pages are never executable (DEP).
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
