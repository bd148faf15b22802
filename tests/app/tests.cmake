morvel_add_test(CommandLineTests LIBS morvel_app SOURCES app/CommandLineTests.cpp)
morvel_add_test(BatchJobTests LIBS morvel_app SOURCES app/BatchJobTests.cpp)
# The program itself, started as a user or cron would start it.
morvel_add_test(BatchProcessTests LIBS morvel_app morvel_test_server Qt6::Test
    SOURCES app/BatchProcessTests.cpp)
target_compile_definitions(BatchProcessTests PRIVATE MORVEL_EXECUTABLE="$<TARGET_FILE:Morvel>"
    MORVEL_QUICK_BATCH="$<TARGET_FILE:morvel_quick_batch>")
add_dependencies(BatchProcessTests Morvel morvel_quick_batch)
morvel_add_test(WindowStartTests LIBS morvel_app SOURCES app/WindowStartTests.cpp)
# A set of sheets through the program itself.
morvel_add_test(SheetBatchTests LIBS morvel_app morvel_test_server Qt6::Test
    SOURCES app/SheetBatchTests.cpp)
target_compile_definitions(SheetBatchTests PRIVATE MORVEL_EXECUTABLE="$<TARGET_FILE:Morvel>")
add_dependencies(SheetBatchTests Morvel)
