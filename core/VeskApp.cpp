#include "core/VeskApp.h"

#include "core/VeskDlg.h"
#include "platform/Socket.h"

#include <memory>

namespace {

constexpr const char* kSocketStartupFailed = "Fel 0105";

} // namespace

bool CVeskApp::StartSocketLayer() {
    return port::SocketLayerStartup();
}

bool CVeskApp::InitInstance() {
    // Failures here go unreported: the dialogs fall back to what the
    // system offers.
    m_ui.InitCommonControls();

    if (!StartSocketLayer() && !StartSocketLayer()) {
        m_ui.MessageBox(nullptr, kSocketStartupFailed, m_strAppName, port::kMbOk);
        return false;
    }

    // For the animated pictures' loader, until the modal run is over.
    const std::unique_ptr<port::ControlHosting> hosting = m_ui.EnableControlHosting();

    // The constructor may find a running copy and end this process; the
    // window makes itself the application's main window when it is created.
    CVeskDlg dlg(*this);
    dlg.DoModal();
    return false;
}
