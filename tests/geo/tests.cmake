morvel_add_test(EllipsoidTests LIBS morvel_geo SOURCES geo/EllipsoidTests.cpp)
morvel_add_test(CalibrationTextTests LIBS morvel_geo SOURCES geo/CalibrationTextTests.cpp)
morvel_add_test(CalibrationPointsTests LIBS morvel_geo SOURCES geo/CalibrationPointsTests.cpp)

# PROJ's plain route and GDAL's tools, which the tests below check the files against.
add_library(morvel_geo_test_tools STATIC geo/GeoTestTools.h geo/GeoTestTools.cpp)
target_link_libraries(morvel_geo_test_tools PUBLIC morvel_test_main PROJ::proj)

morvel_add_test(DatumChangeTests LIBS morvel_geo morvel_geo_test_tools
    SOURCES geo/DatumChangeTests.cpp)
morvel_add_test(CalibraTests LIBS morvel_geo morvel_geo_test_tools SOURCES geo/CalibraTests.cpp)
morvel_add_test(WorldFileTests LIBS morvel_geo morvel_geo_test_tools
    SOURCES geo/WorldFileTests.cpp)
morvel_add_test(TrackFileTests LIBS morvel_geo morvel_geo_test_tools
    SOURCES geo/TrackFileTests.cpp)
morvel_add_test(SheetIndexTests LIBS morvel_geo morvel_geo_test_tools
    SOURCES geo/SheetIndexTests.cpp)
morvel_add_test(TrackSheetsTests LIBS morvel_geo morvel_sheet_checks
    SOURCES geo/TrackSheetsTests.cpp)
