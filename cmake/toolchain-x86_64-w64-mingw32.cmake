# The same sources for 64-bit Windows. This machine's Wine can only run
# 64-bit programs, so the tests and the demo use this build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
