# The same sources for 64-bit Windows: the tests and the demo run this build
# on machines that cannot run 32-bit programs (and so Wine's 32-bit side);
# elsewhere they run the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
