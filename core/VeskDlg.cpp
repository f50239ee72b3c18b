#include "core/VeskDlg.h"

#include "config/AccountStore.h"
#include "config/ProxySetting.h"
#include "core/ServerAddress.h"
#include "net/pop3/Pop3Connection.h"
#include "res/resource.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

constexpr int kPop3Port = 110;
constexpr int kPop3TlsPort = 995;

} // namespace

CVeskDlg::CVeskDlg(CVeskApp& app, CheckOnly)
    : CDialog(app.Ui(), IDD_VESK_DIALOG), m_app(app), m_tray(app.Ui()), m_notifier(app.Ui()) {}

CVeskDlg::~CVeskDlg() = default;

void CVeskDlg::LoadAccounts() {
    ::LoadAccounts(m_app.Profile(), m_accounts);
}

bool CVeskDlg::SaveAccounts() {
    return ::SaveAccounts(m_app.Profile(), m_accounts);
}

CAccount* CVeskDlg::FindAccount(const std::string& name, int n) {
    return ::FindAccount(m_accounts, name, n);
}

bool CVeskDlg::RemoveAccount(const std::string& name, int n) {
    return ::RemoveAccount(m_accounts, name, n);
}

void CVeskDlg::CheckMail(bool manual) {
    std::string report;
    bool anyMail = false;

    // By index: a message box shown for one account runs a nested message
    // loop, in which a command may add or remove accounts.
    for (std::size_t i = 0; i < m_accounts.size(); ++i) {
        int count = 0;
        {
            CAccount& account = m_accounts[i];
            if (account.m_strServer.empty() || account.m_strUserName.empty() ||
                account.m_strPassword.empty())
                continue;

            // Nothing that goes wrong with one account may end the cycle:
            // the next accounts are still asked and the report still handed
            // over.
            try {
                count = IsImap(account) ? CheckImapAccount(account) : CheckPop3Account(account);
            } catch (const std::exception&) {
                count = 0;
            }
        }

        if (count > 0 && i < m_accounts.size()) {
            char number[16];
            std::snprintf(number, sizeof number, "%d", count);
            report += m_accounts[i].m_strAccountName;
            report += ' ';
            report += number;
            report += " mail.\n";
            anyMail = true;
        }
    }

    if (anyMail)
        report.pop_back(); // the last line's line feed
    AnnounceMail(manual, anyMail, report);
}

int CVeskDlg::CheckPop3Account(CAccount& account) {
    const bool tls = UsesTls(account);
    std::string host;
    int port = 0;
    if (!SplitServerAddress(account.m_strServer, tls ? kPop3TlsPort : kPop3Port, host, port))
        return 0;

    CPop3Connection connection;
    connection.m_bUseTls = tls ? 1 : 0;
    UseProxy(connection, ReadProxySetting(m_app.Profile()));
    // The result is not examined: after a failed connect every later
    // operation fails, so the account contributes nothing.
    connection.Connect(host, account.m_strUserName, account.m_strPassword, port);

    if (!m_blockedSenders.empty()) {
        // What was found not blocked is remembered per mailbox, so that a
        // message is downloaded once per blocked list, not on every cycle.
        ExaminedMessages& examined =
            m_examinedMessages[account.m_strServer + '\n' + account.m_strUserName];
        SweepBlockedSenders(connection, BlockedSenderMatcher(m_blockedSenders), &examined);
    }

    int count = 0;
    std::uint32_t size = 0;
    if (!connection.Statistics(count, size))
        count = 0;

    if (count > 0) {
        std::string id;
        connection.GetMessageId(count, id);
        if (id != account.m_strLastMessage) {
            account.m_strLastMessage = id;
            SaveAccounts();
            m_bMailAnnounced = false;
        }
    }

    RefreshControls();
    connection.Disconnect();
    return count;
}

void CVeskDlg::ShowMessageBox(const std::string& text, const std::string& caption) {
    m_openBoxCaptions.push_back(caption);
    struct Closed {
        std::vector<std::string>& boxes;
        ~Closed() { boxes.pop_back(); }
    } closed{m_openBoxCaptions};
    const std::string& shown = caption.empty() ? m_app.AppName() : caption;
    if (m_messageBoxHandler)
        m_messageBoxHandler(text, shown);
    else
        m_ui.MessageBox(m_hWnd, text, shown, port::kMbOk);
}

bool CVeskDlg::IsMessageBoxOpen(const std::string& caption) const {
    return std::find(m_openBoxCaptions.begin(), m_openBoxCaptions.end(), caption) !=
           m_openBoxCaptions.end();
}
