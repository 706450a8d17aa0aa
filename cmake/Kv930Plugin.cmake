# kv930_add_meter_plugin(<target> [OUTPUT_DIR <dir>] [OUTPUT_NAME <name>] SOURCES ...)
# A meter driver is a Qt plugin MODULE that carries its own copy of the reading
# record, because the program deletes readings the plugin allocated.
#
# The same file serves the program's own build and, installed beside
# Kv930Config.cmake, drivers built against an installed program: the package
# config names the installed record source and headers before including it;
# otherwise they come from the source tree this file sits in.
get_property(_kv930_sources_known GLOBAL PROPERTY KV930_DMMDATA_SOURCE SET)
if(NOT _kv930_sources_known)
    get_filename_component(_kv930_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
    set_property(GLOBAL PROPERTY KV930_DMMDATA_SOURCE "${_kv930_root}/data/dmmdata.cpp")
    set_property(GLOBAL PROPERTY KV930_PLUGIN_INCLUDE_DIRS "${_kv930_root}/data" "${_kv930_root}/meter")
    unset(_kv930_root)
endif()
unset(_kv930_sources_known)

function(kv930_add_meter_plugin target)
    cmake_parse_arguments(ARG "" "OUTPUT_DIR;OUTPUT_NAME" "SOURCES" ${ARGN})
    get_property(_dmmdata GLOBAL PROPERTY KV930_DMMDATA_SOURCE)
    get_property(_includes GLOBAL PROPERTY KV930_PLUGIN_INCLUDE_DIRS)
    add_library(${target} MODULE ${ARG_SOURCES} ${_dmmdata})
    target_include_directories(${target} PRIVATE ${_includes})
    target_link_libraries(${target} PRIVATE Qt::Core Qt::SerialPort)
    target_compile_features(${target} PRIVATE cxx_std_17)
    # The record and the plugin root objects are Q_OBJECTs; a driver project
    # need not switch moc on by itself.
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    if(NOT ARG_OUTPUT_DIR)
        if(DEFINED KV930_PLUGIN_DIR)
            set(ARG_OUTPUT_DIR ${KV930_PLUGIN_DIR})
        else()
            set(ARG_OUTPUT_DIR ${CMAKE_BINARY_DIR}/Lib)
        endif()
    endif()
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR} PREFIX "")
    if(ARG_OUTPUT_NAME)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
endfunction()
