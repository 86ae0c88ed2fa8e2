# Cross toolchain for the 64-bit build of the same sources. It exists for hosts that cannot
# execute 32-bit code (no IA-32 emulation in the kernel): there the tests run this build
# under wine64 instead of the 32-bit one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
