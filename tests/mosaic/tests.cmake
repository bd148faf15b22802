morvel_add_test(BmpFileTests LIBS morvel_mosaic SOURCES mosaic/BmpFileTests.cpp)
morvel_add_test(MosaicBitmapTests LIBS morvel_mosaic SOURCES mosaic/MosaicBitmapTests.cpp)
morvel_add_test(TileCleanupTests LIBS morvel_mosaic SOURCES mosaic/TileCleanupTests.cpp)
morvel_add_test(SheetOverviewTests LIBS morvel_mosaic SOURCES mosaic/SheetOverviewTests.cpp)
