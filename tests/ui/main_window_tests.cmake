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
    SOURCES ui/MapWindowTests.cpp ui/MapWindowOnScreenTests.cpp)
# Where the map window goes needs a screen of a known size and a window manager; offscreen
# these tests skip themselves.
foreach(screen 1024x768 1280x900)
    add_test(NAME MapWindowOnScreen_${screen}
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/on-screen.sh ${screen}
            $<TARGET_FILE:MapWindowTests> --gtest_filter=MapWindowOnScreen.*)
    set_tests_properties(MapWindowOnScreen_${screen} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=xcb;LC_ALL=C.UTF-8"
        # Passed only when the test ran and passed: a filter that matches nothing passes too.
        PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test\\.")
endforeach()
morvel_add_test(SheetSettingsTests LIBS morvel_ui SOURCES ui/SheetSettingsTests.cpp)
