// The main window object: owner of the account list and the settings
// members, and home of the mail check cycle.
#pragma once

#include "config/Account.h"
#include "core/VeskApp.h"

#include <functional>
#include <string>
#include <vector>

class CPop3Connection;

class CVeskDlg {
public:
    // Receives what a check cycle found: whether it was asked for by the
    // user, whether any account has mail, and the report text (one line per
    // account with mail, without a final line feed).
    using ReportHandler = std::function<void(bool manual, bool anyMail, const std::string& report)>;
    // Shows a message box (OK button only) with a caption; returns when the
    // user has closed it.
    using MessageBoxHandler =
        std::function<void(const std::string& text, const std::string& caption)>;

    explicit CVeskDlg(CVeskApp& app);
    virtual ~CVeskDlg();

    CVeskDlg(const CVeskDlg&) = delete;
    CVeskDlg& operator=(const CVeskDlg&) = delete;

    // One visit of every account, in list order: POP3 accounts count their
    // mailbox, IMAP accounts the unseen messages of INBOX; the report goes
    // to AnnounceMail.
    void CheckMail(bool manual);

    // The account store on m_accounts.
    void LoadAccounts();
    bool SaveAccounts();
    CAccount* FindAccount(const std::string& name, int n);
    bool RemoveAccount(const std::string& name, int n);

    void SetReportHandler(ReportHandler handler) { m_reportHandler = std::move(handler); }
    void SetMessageBoxHandler(MessageBoxHandler handler) {
        m_messageBoxHandler = std::move(handler);
    }

    std::vector<CAccount> m_accounts;
    bool m_bMailAnnounced = false;

protected:
    // The hand-over at the end of a cycle.
    virtual void AnnounceMail(bool manual, bool anyMail, const std::string& report);
    // Dialog data exchange towards the controls after each POP3 account.
    virtual void RefreshControls() {}
    // A message box owned by the main window. While it is open a top-level
    // window with its caption exists (IsMessageBoxOpen), so that a cycle
    // started from the box's nested message loop can tell.
    void ShowMessageBox(const std::string& text, const std::string& caption);
    bool IsMessageBoxOpen(const std::string& caption) const;

    CVeskApp& m_app;

private:
    // Returns the account's message count (0 when it contributes nothing).
    int CheckPop3Account(CAccount& account);
    int CheckImapAccount(CAccount& account); // core/VeskDlgImap.cpp

    ReportHandler m_reportHandler;
    MessageBoxHandler m_messageBoxHandler;
    std::vector<std::string> m_openBoxCaptions;
};
