// The system's load entry point: remembers the module's instance handle, which
// the dialogs load their templates from until the host gives a fresher one.
#include <windows.h>

#include "entry/suites.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
    quillmesh::setModuleInstance(instance);
    return TRUE;
}
