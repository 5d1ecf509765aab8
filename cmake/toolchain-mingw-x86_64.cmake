# The test bed on machines that run no 32-bit x86 code: the same sources
# built for 64-bit Windows, tested under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
