# The pictures that lie beside the program, in the program folder and once
# installed; the Qt and the Win32 program both include this.
set(pictures)
foreach(picture cancel.ico up2.ico)
  add_custom_command(
    OUTPUT ${PASOTUNE_PROGRAM_DIR}/${picture}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/resources/${picture} ${PASOTUNE_PROGRAM_DIR}/${picture}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/${picture}
    COMMENT "Copying ${picture} into the program folder")
  list(APPEND pictures ${PASOTUNE_PROGRAM_DIR}/${picture})
  install(FILES ${PROJECT_SOURCE_DIR}/resources/${picture} DESTINATION ${PASOTUNE_INSTALL_DIR})
endforeach()
add_custom_target(pasotune_pictures ALL DEPENDS ${pictures})
