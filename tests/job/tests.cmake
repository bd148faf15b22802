morvel_add_test(AreaTests LIBS morvel_job SOURCES job/AreaTests.cpp)
morvel_add_test(MapRequestTests LIBS morvel_job SOURCES job/MapRequestTests.cpp)
morvel_add_test(WriteErrorTests LIBS morvel_job SOURCES job/WriteErrorTests.cpp)
