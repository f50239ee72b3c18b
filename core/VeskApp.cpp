#include "core/VeskApp.h"

#include "core/VeskDlg.h"
#include "platform/Socket.h"

namespace {

constexpr const char* kSocketStartupFailed = "Fel 0105";

} // namespace

bool CVeskApp::StartSocketLayer() {
    return port::SocketLayerStartup();
}

bool CVeskApp::InitInstance() {
    if (!StartSocketLayer() && !StartSocketLayer()) {
        m_ui.MessageBox(nullptr, kSocketStartupFailed, m_strAppName, port::kMbOk);
        return false;
    }

    // The constructor may find a running copy and end this process; the
    // window makes itself the application's main window when it is created.
    CVeskDlg dlg(*this);
    dlg.DoModal();
    return false;
}
