add_library(morvel_ui_test_support INTERFACE)
target_sources(morvel_ui_test_support INTERFACE ui/UiTestSupport.h)
target_link_libraries(morvel_ui_test_support INTERFACE morvel_ui morvel_test_main Qt6::Test)

morvel_add_test(SettingsFileTests LIBS morvel_ui morvel_ui_test_support
    SOURCES ui/SettingsFileTests.cpp)
morvel_add_test(CornerEditTests LIBS morvel_ui morvel_ui_test_support
    SOURCES ui/CornerEditTests.cpp)
morvel_add_test(MainWindowTests LIBS morvel_ui morvel_ui_test_support
    SOURCES ui/MainWindowTests.cpp)
morvel_add_test(DialogsTests LIBS morvel_ui morvel_ui_test_support
    SOURCES ui/DialogsTests.cpp)
morvel_add_test(MapWindowTests
    LIBS morvel_ui morvel_ui_test_support morvel_test_server morvel_geo_test_tools
    SOURCES ui/MapWindowTests.cpp)
morvel_add_test(SheetSettingsTests LIBS morvel_ui SOURCES ui/SheetSettingsTests.cpp)
