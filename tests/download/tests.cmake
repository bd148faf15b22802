morvel_add_test(AreaTests LIBS morvel_download SOURCES download/AreaTests.cpp)
morvel_add_test(MapRequestTests LIBS morvel_download SOURCES download/MapRequestTests.cpp)
