# The test tree of this bitness: GoogleTest, the tests and the benchmarks,
# built with the posix thread model against a product tree's files.
set(VARNEX_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
