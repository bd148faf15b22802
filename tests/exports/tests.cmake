# The export tests read the files back with GDAL's tools and check them against PROJ.
add_library(morvel_exports_test_support STATIC
    exports/ExportTestSupport.h exports/ExportTestSupport.cpp)
target_link_libraries(morvel_exports_test_support PUBLIC
    morvel_exports morvel_geo morvel_geo_test_tools)

morvel_add_test(ExportFilesTests LIBS morvel_exports_test_support Qt6::Concurrent
    SOURCES exports/ExportFilesTests.cpp)
morvel_add_test(ExportGeometryTests LIBS morvel_exports_test_support
    SOURCES exports/ExportGeometryTests.cpp)
morvel_add_test(GridExportTests LIBS morvel_exports_test_support
    SOURCES exports/GridExportTests.cpp)
morvel_add_test(MbTilesExportTests LIBS morvel_exports_test_support
    SOURCES exports/MbTilesExportTests.cpp)
morvel_add_test(GarminKmzTests LIBS morvel_exports_test_support
    SOURCES exports/GarminKmzTests.cpp download/JpegStructure.h download/JpegStructure.cpp)
morvel_add_test(PrintPdfTests LIBS morvel_exports_test_support
    SOURCES exports/PrintPdfTests.cpp)
