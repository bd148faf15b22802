morvel_add_test(AreaTests LIBS morvel_job SOURCES job/AreaTests.cpp)
morvel_add_test(MapRequestTests LIBS morvel_job SOURCES job/MapRequestTests.cpp)
morvel_add_test(MapAreaTests LIBS morvel_job SOURCES job/MapAreaTests.cpp job/RunEstimateTests.cpp)
morvel_add_test(PlaceTextTests LIBS morvel_job SOURCES job/PlaceTextTests.cpp)
morvel_add_test(WriteErrorTests LIBS morvel_job SOURCES job/WriteErrorTests.cpp)

# What every cut into sheets must hold, for the cut's tests here and the tracks' in geo/.
add_library(morvel_sheet_checks STATIC job/SheetChecks.h job/SheetChecks.cpp)
target_link_libraries(morvel_sheet_checks PUBLIC morvel_test_main morvel_job)

morvel_add_test(SheetCutTests LIBS morvel_job morvel_sheet_checks SOURCES job/SheetCutTests.cpp)
morvel_add_test(SheetSourceTests LIBS morvel_job SOURCES job/SheetSourceTests.cpp)
