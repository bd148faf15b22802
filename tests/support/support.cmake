# The local map server the tests (of every floor) and the benches talk to.
add_library(morvel_test_server STATIC
    support/TestMapServer.h
    support/TestMapServer.cpp
)
target_link_libraries(morvel_test_server PUBLIC morvel_map_http morvel_download)
