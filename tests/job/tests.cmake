morvel_add_test(AreaTests LIBS morvel_job SOURCES job/AreaTests.cpp)
morvel_add_test(MapRequestTests LIBS morvel_job SOURCES job/MapRequestTests.cpp)
morvel_add_test(MapAreaTests LIBS morvel_job SOURCES job/MapAreaTests.cpp)
morvel_add_test(PlaceTextTests LIBS morvel_job SOURCES job/PlaceTextTests.cpp)
