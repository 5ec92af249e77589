# OrvaneEngine.dll through real COM: the test registers the DLL with regsvr32,
# activates it by ProgID and unregisters it again. Registration changes the
# test prefix machine-wide, so registering tests hold one resource lock.
# The record class is compiled in as well, with the type library as the
# executable's own resource, to test it apart from any finding.
if(TARGET OrvaneEngine)
  file(GLOB ENGINE_COM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/com/*.cpp)
  set(ENGINE_TEST_RC ${CMAKE_BINARY_DIR}/engine/generated/OrvaneEngine.rc)
  set_source_files_properties(${ENGINE_TEST_RC} PROPERTIES
    GENERATED TRUE OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/engine/generated/OrvaneEngine.tlb)
  orvane_test(NAME test_engine_com
    SOURCES ${ENGINE_COM_TEST_SOURCES} ${ORVANE_ROOT}/engine/com/CqnRegRecord.cpp
    RESOURCES ${ENGINE_TEST_RC}
    LIBS engine_idl comlayer common)
  add_dependencies(test_engine_com OrvaneEngine engine_idl_files ScanRun)
  target_compile_definitions(test_engine_com PRIVATE
    "ORVANE_ENGINE_DLL=\"$<TARGET_FILE:OrvaneEngine>\""
    "ORVANE_SCANRUN_EXE=\"$<TARGET_FILE:ScanRun>\"")
  set_tests_properties(test_engine_com PROPERTIES RESOURCE_LOCK com_registration)
endif()
