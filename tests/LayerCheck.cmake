# cmake -DROOT=<source folder> -P LayerCheck.cmake
#
# The folders are floors and includes point down only: job at the bottom; download,
# mosaic, geo and exports above it, none of them including another; run above those four;
# then ui, then app. Below ui no widget is included, and job includes no network, image or
# file-writing header. Every offending line is listed and the check fails.

cmake_minimum_required(VERSION 3.25)

set(floor_job 0)
set(floor_download 1)
set(floor_mosaic 1)
set(floor_geo 1)
set(floor_exports 1)
set(floor_run 2)
set(floor_ui 3)
set(floor_app 4)
set(layered job download mosaic geo exports run ui app)
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
                elseif(target IN_LIST layered AND NOT target STREQUAL folder)
                    if(NOT floor_${target} LESS floor_${folder})
                        list(APPEND problems "${shown}: ${line}")
                    endif()
                endif()
            elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
                set(header "${CMAKE_MATCH_1}")
                if(floor_${folder} LESS 3 AND header MATCHES "^(${widget_headers})$")
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
