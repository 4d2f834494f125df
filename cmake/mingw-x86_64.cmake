# Second flavour: 64-bit Windows, the same code as the i686 product; it runs
# under the 64-bit Wine loader on machines that cannot execute 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
