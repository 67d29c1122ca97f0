# The manifest and version resource of one Windows program, made from
# Program.rc.in and Program.manifest.in with the project's version. Set
# TARVEN_PROGRAM_NAME, TARVEN_PROGRAM_DESCRIPTION and TARVEN_PROGRAM_ICON (an
# icon resource line, or empty) first; gives TARVEN_PROGRAM_RC to add to the
# program's sources.
# Windows keeps four numbers; the project gives three.
set(patch ${PROJECT_VERSION_PATCH})
if(patch STREQUAL "")
  set(patch 0)
endif()
set(TARVEN_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${patch},0")
set(TARVEN_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${patch}.0")
set(resources_out ${CMAKE_CURRENT_BINARY_DIR}/${TARVEN_PROGRAM_NAME}-resources)
set(TARVEN_MANIFEST ${resources_out}/${TARVEN_PROGRAM_NAME}.manifest)
configure_file(${PROJECT_SOURCE_DIR}/resources/Program.manifest.in ${TARVEN_MANIFEST} @ONLY)
set(TARVEN_PROGRAM_RC ${resources_out}/${TARVEN_PROGRAM_NAME}.rc)
configure_file(${PROJECT_SOURCE_DIR}/resources/Program.rc.in ${TARVEN_PROGRAM_RC} @ONLY)
set_property(SOURCE ${TARVEN_PROGRAM_RC} APPEND PROPERTY OBJECT_DEPENDS ${TARVEN_MANIFEST}
  ${PROJECT_SOURCE_DIR}/resources/AppIcon.ico)
