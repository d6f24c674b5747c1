# 32-bit Windows: built and checked, never run (these machines execute no 32-bit code).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WEDGECARD_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
