# The export tests read the files back with GDAL's tools and check them against PROJ.
add_library(morvel_exports_test_support STATIC
    exports/ExportTestSupport.h exports/ExportTestSupport.cpp)
target_link_libraries(morvel_exports_test_support PUBLIC
    morvel_exports morvel_geo morvel_geo_test_tools)

morvel_add_test(ExportFilesTests LIBS morvel_exports_test_support
    SOURCES exports/ExportFilesTests.cpp)
