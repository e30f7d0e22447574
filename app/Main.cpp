// Nulvane.exe: the program's entry point. Everything else lives in the
// application object, which the tests link too.
#include <windows.h>

#include "app/CommandLine.h"
#include "app/MSDIApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    CMSDIApp app;
    return app.RunApplication(CCommandLine::FromProcess());
}
