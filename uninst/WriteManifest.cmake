# Runs last at install time: lists every installed file for quorvex-uninstall, relative to the
# manifest's folder so that an install moved elsewhere still uninstalls itself.
set(_dest "$ENV{DESTDIR}")
set(_folder "${_dest}${CMAKE_INSTALL_PREFIX}/share/quorvex")
set(_text "")
foreach(_f IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    if(NOT _dest OR _f MATCHES "^${_dest}")
        file(RELATIVE_PATH _f "${_folder}" "${_f}")
    endif()
    string(APPEND _text "${_f}\n")
endforeach()
file(WRITE "${_folder}/install-manifest.txt" "${_text}")
message(STATUS "Installing: ${_folder}/install-manifest.txt")
