/* A Direct3D 9 runtime that hands out no object, as one that does not accept
   the launcher's SDK version would. Tests put it beside the launcher and
   make Wine prefer it (WINEDLLOVERRIDES=d3d9=n,b). */
#include <windows.h>

__declspec(dllexport) void* WINAPI Direct3DCreate9(UINT sdkVersion) {
  (void)sdkVersion;
  return NULL;
}
