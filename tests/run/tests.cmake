morvel_add_test(JobRecordTests LIBS morvel_run Qt6::Test
    SOURCES run/JobRecordTests.cpp run/MeasureStoreTests.cpp)
morvel_add_test(DownloadRunTests LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/DownloadRunTests.cpp run/RunTestSupport.h)
morvel_add_test(ResumeTests LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/ResumeTests.cpp run/RunTestSupport.h)
morvel_add_test(CalibrationRunTests LIBS morvel_run SOURCES run/CalibrationRunTests.cpp)
morvel_add_test(SharedFolderTests LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/SharedFolderTests.cpp run/RunTestSupport.h)
morvel_add_test(OutputUnitsTests LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/OutputUnitsTests.cpp run/RunTestSupport.h)
morvel_add_test(ExportRunTests LIBS morvel_run morvel_test_server morvel_geo_test_tools Qt6::Test
    SOURCES run/ExportRunTests.cpp run/RunTestSupport.h)
morvel_add_test(EstimateRunTests SERIAL LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/EstimateRunTests.cpp run/RunTestSupport.h)
morvel_add_test(SheetSetRecordTests LIBS morvel_run SOURCES run/SheetSetRecordTests.cpp)
morvel_add_test(SheetSetRunTests LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/SheetSetRunTests.cpp run/RunTestSupport.h)
