#include <windows.h>
#include "diskexplorer/FolderSizeMain.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) { return FolderSizeMain(instance, show); }
