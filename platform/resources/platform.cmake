# The viewer applet archive is embedded in the program as the resource
# CLIENTJAR of type EXEFILE: the assembler pulls the built jar in with .incbin.
set(HALVORA_RESOURCES_ASM ${CMAKE_CURRENT_BINARY_DIR}/EmbeddedResources.S)
configure_file(${CMAKE_CURRENT_LIST_DIR}/EmbeddedResources.S.in ${HALVORA_RESOURCES_ASM} @ONLY)
set_source_files_properties(${HALVORA_RESOURCES_ASM} PROPERTIES OBJECT_DEPENDS ${HALVORA_CLIENT_JAR})
list(APPEND PLATFORM_SOURCES ${HALVORA_RESOURCES_ASM})
set(HALVORA_PLATFORM_DEPENDS ${HALVORA_PLATFORM_DEPENDS} client_jar)
