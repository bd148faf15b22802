# cmake -DROOT=<source folder> -P LayerCheck.cmake
#
# The folders are floors and includes point down only: job at the bottom; gdalbase, what
# GDAL's users share, and filebase, the file saved whole that the writers share, on it;
# download, mosaic, geo and exports above those, none of them including another, and only geo
# and exports using gdalbase; run above those four; then ui, then app. Below ui no widget is
# included, and job includes no network, image or file-writing header. Every offending line
# is listed and the check fails.

cmake_minimum_required(VERSION 3.25)

set(floor_job 0)
set(floor_gdalbase 1)
set(floor_filebase 1)
set(floor_download 2)
set(floor_mosaic 2)
set(floor_geo 2)
set(floor_exports 2)
set(floor_run 3)
set(floor_ui 4)
set(floor_app 5)
set(layered job gdalbase filebase download mosaic geo exports run ui app)
# Crafts that have nothing to do with GDAL and stay clear of its floor.
set(without_gdal download mosaic)
# Project folders a layered file must never include from.
set(outside tools tests bench)

# Headers of the toolkit's widgets, which only ui/ and app/ may use.
set(widget_headers "QWidget|QDialog|QMessageBox|QApplication|QMainWindow|QLabel|QPushButton|QtWidgets/.*")
# What the ground floor does not do: network, images, writing files.
set(job_forbidden "QNetwork[A-Za-z]*|QImage|QPixmap|QPainter|QSaveFile|QFile|jpeglib\\.h|QtNetwork/.*|QtGui/.*")

set(problems "")
foreach(folder IN LISTS layered)
    file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
        file(RELATIVE_PATH shown "${ROOT}" "${source}")
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
        foreach(line IN LISTS includes)
            if(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
                set(target "${CMAKE_MATCH_1}")
                if(target IN_LIST outside)
                    list(APPEND problems "${shown}: ${line}")
                elseif(target STREQUAL "gdalbase" AND folder IN_LIST without_gdal)
                    list(APPEND problems "${shown}: ${line} (GDAL's floor is for geo and exports)")
                elseif(target IN_LIST layered AND NOT target STREQUAL folder)
                    if(NOT floor_${target} LESS floor_${folder})
                        list(APPEND problems "${shown}: ${line}")
                    endif()
                endif()
            elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
                set(header "${CMAKE_MATCH_1}")
                if(floor_${folder} LESS 4 AND header MATCHES "^(${widget_headers})$")
                    list(APPEND problems "${shown}: ${line} (a widget below ui/)")
                endif()
                if(folder STREQUAL "job" AND header MATCHES "^(${job_forbidden})$")
                    list(APPEND problems "${shown}: ${line} (not on the ground floor)")
                endif()
            endif()
        endforeach()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " listed)
    message(FATAL_ERROR "Includes against the floors:\n  ${listed}")
endif()
message(STATUS "Every include points down the floors.")
