/* Interface ids that mingw-w64's libuuid does not carry. */
#include <initguid.h>
#include <objbase.h>
