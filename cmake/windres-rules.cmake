# The resource compiler's rule, read after CMake's own for windres (through
# CMAKE_USER_MAKE_RULES_OVERRIDE, set by the toolchain): windres writes no
# dependencies, so an object would depend on its script alone and an
# incremental build would keep the old strings of an included script. The
# wrapper writes the depfile that the Ninja generator's rule already reads.
if(CMAKE_GENERATOR MATCHES "Ninja")
  set(CMAKE_RC_COMPILE_OBJECT
    "/usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/windres-depfile <DEP_FILE> <OBJECT> <CMAKE_RC_COMPILER> -O coff <DEFINES> <INCLUDES> <FLAGS> <SOURCE> <OBJECT>")
endif()
