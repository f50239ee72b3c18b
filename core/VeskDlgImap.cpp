// The IMAP branch of the check cycle: the number of unseen messages in INBOX
// and, when there are any, its next unique identifier (RFC 3501 STATUS
// UNSEEN and UIDNEXT) as the account's newest-message marker.
#include "config/ProxySetting.h"
#include "core/ServerAddress.h"
#include "core/VeskDlg.h"
#include "net/imap/UT_IMAP4Client.h"

#include <cstdio>
#include <memory>

namespace {

constexpr const char* kErrorCaption = "Error Message";
constexpr const char* kConnectionError =
    ": Connection error! Verify your user name, password and incoming mail server.\n\n"
    "If you have a firewall on your computer, allow Tavlo full access to the Internet.";

} // namespace

int CVeskDlg::CheckImapAccount(CAccount& account) {
    const bool tls = UsesTls(account);
    auto client = std::make_unique<CUT_IMAP4Client>();
    if (tls)
        client->UseSecurePort();
    client->SetProxy(ReadProxySetting(m_app.Profile()));
    MailboxStatus status; // all counters 0

    // A server text that names no usable port cannot be reached: it fails
    // like a connection that cannot be made.
    std::string host;
    int port = 0;
    bool open = SplitServerAddress(account.m_strServer, client->GetPort(), host, port);
    if (open) {
        client->SetPort(port);
        open =
            client->OpenSession(host, account.m_strUserName, account.m_strPassword) == UT::Success;
    }
    if (!open) {
        // The box runs a nested message loop in which another cycle may
        // start; that cycle must not stack a second box on this one.
        if (!IsMessageBoxOpen(kErrorCaption))
            ShowMessageBox(account.m_strAccountName + kConnectionError, kErrorCaption);
        return 0;
    }

    // A failed query leaves the record as it was: zero, so nothing counts.
    client->QueryMailboxStatus("INBOX", "UNSEEN", status);
    const int count = status.unseen;
    if (count > 0) {
        client->QueryMailboxStatus("INBOX", "UIDNEXT", status);
        char marker[16];
        std::snprintf(marker, sizeof marker, "%d", status.uidNext);
        if (account.m_strLastMessage != marker) {
            account.m_strLastMessage = marker;
            SaveAccounts();
            m_bMailAnnounced = false;
        }
    }

    RefreshControls();
    client->CloseSession();
    return count;
}
