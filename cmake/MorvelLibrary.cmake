# morvel_library(<name> <sources>...): a static logic library with the project's
# include root and the Qt and libjpeg libraries every logic folder may use.
function(morvel_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui Qt6::Network JPEG::JPEG)
endfunction()
