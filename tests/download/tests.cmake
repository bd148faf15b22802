morvel_add_test(JpegCodecTests LIBS morvel_download
    SOURCES download/JpegCodecTests.cpp download/JpegStructure.h download/JpegStructure.cpp)

set(MORVEL_FETCH_TEST_SUPPORT download/FetchTestSupport.h download/JpegStructure.h
    download/JpegStructure.cpp)
morvel_add_test(FetchTests LIBS morvel_test_server Qt6::Test
    SOURCES download/FetchTests.cpp ${MORVEL_FETCH_TEST_SUPPORT})
morvel_add_test(FirstRequestTests LIBS morvel_test_server Qt6::Test
    SOURCES download/FirstRequestTests.cpp ${MORVEL_FETCH_TEST_SUPPORT})
morvel_add_test(DemoMapTests LIBS morvel_demo_map morvel_test_server Qt6::Test
    SOURCES download/DemoMapTests.cpp ${MORVEL_FETCH_TEST_SUPPORT})
morvel_add_test(TlsFetchTests LIBS morvel_test_server Qt6::Test
    SOURCES download/TlsFetchTests.cpp ${MORVEL_FETCH_TEST_SUPPORT})
morvel_add_test(TransferGateTests LIBS morvel_download Qt6::Test SOURCES download/TransferGateTests.cpp)
