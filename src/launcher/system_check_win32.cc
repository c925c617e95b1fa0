#include "launcher/system_check.h"

#include <windows.h>
#include <d3d9.h>

namespace tvl {


static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record is the 148-byte form");

void checkSystem() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  // A failed query leaves 0.0, which is refused.
  GetVersionExA(&version);
  if (!windowsVersionAccepted(version.dwMajorVersion, version.dwMinorVersion))
    refuseToRun(kOldWindowsText, kOldWindowsCaption);

  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  if (!d3d) refuseToRun(kNoDirectXText, kNoDirectXCaption);
  d3d->Release();
}

}  // namespace tvl
