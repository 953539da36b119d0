# Windows resources of quillgate.exe: version information and the application
# manifest (run as the invoking user, no elevation). Included by the
# launcher's CMakeLists.txt after the quillgate target is defined.
if(WIN32)
  set(QG_RESOURCE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/quillgate.rc)
  target_sources(quillgate PRIVATE ${QG_RESOURCE_SCRIPT})
  set_source_files_properties(${QG_RESOURCE_SCRIPT} PROPERTIES
    COMPILE_DEFINITIONS "QG_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};QG_VERSION_MINOR=${PROJECT_VERSION_MINOR};QG_VERSION_PATCH=${PROJECT_VERSION_PATCH}"
    OBJECT_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/quillgate.manifest)
endif()
