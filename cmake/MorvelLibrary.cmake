# morvel_library(<name> SOURCES <sources>... DEPENDS <libraries>...): a static logic
# library with the project's include root. It links only what it lists: the project's
# libraries of the floors below it and the outside libraries its folder uses.
function(morvel_library name)
    cmake_parse_arguments(L "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_DEPENDS})
endfunction()
