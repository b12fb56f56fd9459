# 64-bit Windows: built and tested so that handle and pointer widths stay honest.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
