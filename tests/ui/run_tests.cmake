morvel_add_test(EventLogTests LIBS morvel_ui Qt6::Test SOURCES ui/EventLogTests.cpp)
morvel_add_test(MosaicoViewerTests LIBS morvel_ui Qt6::Test SOURCES ui/MosaicoViewerTests.cpp)
morvel_add_test(RunWindowTests LIBS morvel_ui morvel_ui_test_support morvel_test_server
    SOURCES ui/RunWindowTests.cpp ui/RunWindowFixture.h)
morvel_add_test(RunFaultsWindowTests LIBS morvel_ui morvel_ui_test_support morvel_test_server
    SOURCES ui/RunFaultsWindowTests.cpp ui/RunWindowFixture.h)
morvel_add_test(RunControlWindowTests LIBS morvel_ui morvel_ui_test_support morvel_test_server
    SOURCES ui/RunControlWindowTests.cpp ui/RunWindowFixture.h)
morvel_add_test(ExportWindowTests LIBS morvel_ui morvel_ui_test_support morvel_test_server
    SOURCES ui/ExportWindowTests.cpp ui/RunWindowFixture.h)
morvel_add_test(SheetWindowTests LIBS morvel_ui morvel_ui_test_support morvel_test_server
    SOURCES ui/SheetWindowTests.cpp ui/RunWindowFixture.h)
