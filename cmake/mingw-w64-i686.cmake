# The 32-bit toolchain of the offline restore program: the emergency disk is a
# 32-bit preinstallation environment. The main build configures it by itself.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
