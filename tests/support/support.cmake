# The local map server the tests (of every floor) and the benches talk to.
add_library(morvel_test_server STATIC
    support/TestMapServer.h
    support/TestMapServer.cpp
)
target_link_libraries(morvel_test_server PUBLIC morvel_map_http morvel_download)
# The program's window-less entry with the tests' quick fetch limits, for the --batch tests
# whose tiles wait out every retry or a stalled answer.
add_executable(morvel_quick_batch support/QuickBatchMain.cpp)
target_link_libraries(morvel_quick_batch PRIVATE morvel_app)
