// VelkorUpdate.exe: the utility with the board on USB.
#include <windows.h>

#include "app/app_win32.h"
#include "link/link_setup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    const LinkSetup setup(LinkSettings{&kWin32HidBackend});
    return RunVelkorUpdate(instance);
}
