# OrvaneEngine.dll through real COM: the test registers the DLL with regsvr32,
# activates it by ProgID and unregisters it again. Registration changes the
# test prefix machine-wide, so registering tests hold one resource lock.
if(TARGET OrvaneEngine)
  file(GLOB ENGINE_COM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/com/*.cpp)
  orvane_test(NAME test_engine_com SOURCES ${ENGINE_COM_TEST_SOURCES} LIBS engine_idl common)
  add_dependencies(test_engine_com OrvaneEngine)
  target_compile_definitions(test_engine_com PRIVATE
    "ORVANE_ENGINE_DLL=\"$<TARGET_FILE:OrvaneEngine>\"")
  set_tests_properties(test_engine_com PROPERTIES RESOURCE_LOCK com_registration)
endif()
