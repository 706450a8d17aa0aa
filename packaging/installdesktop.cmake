# Runs at install time: writes the desktop entry with the installed command's
# full path (quoted when it holds a blank, as desktop entries require) and
# installs it. Expects _kv930_desktop_in and _kv930_desktop_out.
set(KV930_DESKTOP_EXEC "${CMAKE_INSTALL_PREFIX}/bin/kv930")
if(KV930_DESKTOP_EXEC MATCHES "[ \t]")
    set(KV930_DESKTOP_EXEC "\"${KV930_DESKTOP_EXEC}\"")
endif()
configure_file("${_kv930_desktop_in}" "${_kv930_desktop_out}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${_kv930_desktop_out}")
