morvel_add_test(DownloadRunTests LIBS morvel_run morvel_test_server Qt6::Test
    SOURCES run/DownloadRunTests.cpp)
morvel_add_test(CalibrationRunTests LIBS morvel_run SOURCES run/CalibrationRunTests.cpp)
