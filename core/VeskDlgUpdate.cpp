// The update check: the first line of a version document on the update
// host against the program's own version.
#include "config/Settings.h"
#include "core/VeskDlg.h"

#include <string>

namespace {

constexpr char kNewerVersionText[] =
    "There is a newer version of Tavlo.\nYou can download this new version (v";
constexpr char kNewerVersionTail[] = ") from our homepage";
constexpr char kUpToDateText[] = "Your version of Tavlo is up to date!";
constexpr char kNoConnectionText[] = "The Client Could Not Connect to the Server";

} // namespace

void CVeskDlg::RunUpdateCheck(bool manual) {
    if (manual)
        OnCheckForUpdate();
    else
        AutoCheckForUpdate();
}

CVeskDlg::UpdateOutcome CVeskDlg::OnCheckForUpdate() {
    return CheckForUpdate(kManualVersionPath, kManualUpdateTimeoutMs, true);
}

void CVeskDlg::AutoCheckForUpdate() {
    CheckForUpdate(kAutomaticVersionPath, kAutomaticUpdateTimeoutMs, false);
}

CVeskDlg::UpdateOutcome CVeskDlg::CheckForUpdate(const char* path, unsigned timeoutMs,
                                                 bool tellUpToDate) {
    // Plain HTTP to the update host. A stored host that is not HOST[:PORT]
    // reaches nobody (rather than the maker in its place).
    std::string host;
    int port = 0;
    port::HttpFirstLine answer;
    if (ParseUpdateHost(ReadUpdateHost(m_app.Profile()), host, port)) {
        std::string url = "http://";
        url += host;
        if (port != 80) {
            url += ':';
            url += std::to_string(port);
        }
        url += path;
        answer = m_pHttpClient->GetFirstLine(url, m_app.AppName(), timeoutMs);
    }

    // An error status is no version text: it counts as no answer at all.
    if (!answer.connected) {
        ShowMessageBox(kNoConnectionText, std::string());
        return UpdateOutcome::NoConnection;
    }
    if (answer.line != m_strVersion) {
        ShowMessageBox(kNewerVersionText + answer.line + kNewerVersionTail, std::string());
        return UpdateOutcome::Newer;
    }
    if (tellUpToDate)
        ShowMessageBox(kUpToDateText, std::string());
    return UpdateOutcome::UpToDate;
}
