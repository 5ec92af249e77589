# OrvaneEngine.dll: the scan engine's in-process COM server. The IDL is
# compiled by widl to the header, the GUID definitions and the type library;
# the type library is embedded as TYPELIB resource 1.
find_program(ORVANE_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
set(ORVANE_WIDL_INCLUDE /usr/include/wine/wine/windows)
find_path(ORVANE_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
        /usr/lib64/wine/x86_64-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(ENGINE_IDL ${CMAKE_CURRENT_SOURCE_DIR}/engine.idl)
set(ENGINE_GEN ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(ENGINE_H ${ENGINE_GEN}/engine/engine.h)
set(ENGINE_I_C ${ENGINE_GEN}/engine_i.c)
set(ENGINE_TLB ${ENGINE_GEN}/OrvaneEngine.tlb)
set(WIDL_FLAGS --win64 -I${ORVANE_WIDL_INCLUDE} -L${ORVANE_STDOLE_DIR})

add_custom_command(
  OUTPUT ${ENGINE_H} ${ENGINE_I_C} ${ENGINE_TLB}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ENGINE_GEN}/engine
  COMMAND ${ORVANE_WIDL} ${WIDL_FLAGS} -h -o ${ENGINE_H} ${ENGINE_IDL}
  COMMAND ${ORVANE_WIDL} ${WIDL_FLAGS} -u -o ${ENGINE_I_C} ${ENGINE_IDL}
  COMMAND ${ORVANE_WIDL} ${WIDL_FLAGS} -t -o ${ENGINE_TLB} ${ENGINE_IDL}
  DEPENDS ${ENGINE_IDL}
  COMMENT "widl engine.idl"
  VERBATIM)
add_custom_target(engine_idl_files DEPENDS ${ENGINE_H} ${ENGINE_I_C} ${ENGINE_TLB})

# The engine's interface definitions and GUIDs, for the DLL and for its clients' tests.
add_library(engine_idl STATIC ${ENGINE_I_C} ${CMAKE_CURRENT_SOURCE_DIR}/com/MissingGuids.c)
add_dependencies(engine_idl engine_idl_files)
target_include_directories(engine_idl PUBLIC ${ENGINE_GEN} ${ORVANE_ROOT})
target_link_libraries(engine_idl PUBLIC ole32 oleaut32 uuid)

set(ENGINE_RC ${ENGINE_GEN}/OrvaneEngine.rc)
file(WRITE ${ENGINE_RC}.in "1 TYPELIB \"${ENGINE_TLB}\"\n")
configure_file(${ENGINE_RC}.in ${ENGINE_RC} COPYONLY)
set_source_files_properties(${ENGINE_RC} PROPERTIES OBJECT_DEPENDS ${ENGINE_TLB})

file(GLOB ENGINE_COM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/com/*.cpp)
add_library(OrvaneEngine SHARED ${ENGINE_COM_SOURCES} ${ENGINE_RC}
  ${CMAKE_CURRENT_SOURCE_DIR}/com/OrvaneEngine.def)
set_target_properties(OrvaneEngine PROPERTIES PREFIX "" OUTPUT_NAME OrvaneEngine)
add_dependencies(OrvaneEngine engine_idl_files)
target_link_libraries(OrvaneEngine PRIVATE engine_idl comserver comlayer)
if(TARGET engine_core)
  target_link_libraries(OrvaneEngine PRIVATE engine_core)
endif()
target_link_libraries(OrvaneEngine PRIVATE common)
