// Entry point of tavlo.exe. MinGW's start-up code calls main for a GUI
// program too, so this file needs nothing of <windows.h>.
#include "core/VeskApp.h"
#include "platform/Paths.h"
#include "platform/win32/RegistryProfileStore.h"
#include "platform/win32/Win32Ui.h"

int main() {
    port::RegistryProfileStore profile(CVeskApp::kRegistryKey, port::ApplicationName());
    port::win32::Win32Ui ui;
    CVeskApp app(profile, ui, port::ApplicationName());
    app.InitInstance();
    return 0;
}
