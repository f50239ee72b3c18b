// The main window: owner of the account list, the settings members, the
// tray icon and the popup; home of the check cycle, the announcement of new
// mail, the timers and the command routing of the program.
#pragma once

#include "config/Account.h"
#include "config/BlockedSenders.h"
#include "controls/PictureEx.h"
#include "core/BlockedSweep.h"
#include "core/VeskApp.h"
#include "notify/SystemTray.h"
#include "notify/TaskbarNotifier.h"
#include "platform/HttpClient.h"
#include "platform/Wnd.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CPop3Connection;

class CVeskDlg : public CDialog {
public:
    // Receives what a check cycle found instead of the announcement: whether
    // it was asked for by the user, whether any account has mail, and the
    // report text (one line per account with mail, without a final line
    // feed). For front ends that report in their own way.
    using ReportHandler = std::function<void(bool manual, bool anyMail, const std::string& report)>;
    // Shows a message box (OK button only) with a caption instead of the
    // window system's; returns when the user has closed it.
    using MessageBoxHandler =
        std::function<void(const std::string& text, const std::string& caption)>;

    // Timers of the main window.
    static constexpr unsigned kTimerCheck = 2;      // periodic check
    static constexpr unsigned kTimerFirstCheck = 3; // one-shot first check
    static constexpr unsigned kTimerAnimation = 4;  // one-shot animation start
    static constexpr unsigned kTimerUpdate = 7;     // one-shot automatic update check
    static constexpr unsigned kFirstCheckAfterStartMs = 5300;
    static constexpr unsigned kFirstCheckAfterAddMs = 5000;
    static constexpr unsigned kAnimationDelayMs = 5000;
    static constexpr unsigned kUpdateCheckDelayMs = 10000;
    // Stay times of the popup.
    static constexpr unsigned kManualStayMs = 800;
    static constexpr unsigned kAutomaticStayMs = 2400;
    // Message the popup posts when clicked.
    static constexpr unsigned kNotifierClicked = port::kWmUser + 123;
    // The program's version, as the update check compares it.
    static constexpr char kVersion[] = "1.8";
    // The update check's documents and how long each waits for the server.
    static constexpr char kManualVersionPath[] = "/quendel/version";
    static constexpr char kAutomaticVersionPath[] = "/quendel/en/version";
    static constexpr unsigned kManualUpdateTimeoutMs = 5000;
    static constexpr unsigned kAutomaticUpdateTimeoutMs = 10000;

    // What an update check found: another first line than m_strVersion,
    // the same, or no 2xx answer from the server.
    enum class UpdateOutcome { Newer, UpToDate, NoConnection };

    // The program's start-up: ends the process (exit code 0) when another
    // copy runs, after bringing that copy to the front; otherwise loads the
    // accounts and settings, puts the icon into the notification area and
    // writes the autostart entry.
    explicit CVeskDlg(CVeskApp& app);
    // For front ends that only run check cycles: no start-up, no tray icon,
    // no autostart entry; the caller loads the accounts.
    struct CheckOnly {};
    CVeskDlg(CVeskApp& app, CheckOnly);
    ~CVeskDlg() override;

    // One visit of every account, in list order: POP3 accounts count their
    // mailbox, IMAP accounts the unseen messages of INBOX; the report goes
    // to AnnounceMail.
    void CheckMail(bool manual);

    // The account store on m_accounts.
    void LoadAccounts();
    bool SaveAccounts();
    CAccount* FindAccount(const std::string& name, int n);
    bool RemoveAccount(const std::string& name, int n);

    // The blocked senders (core/VeskDlgBlocked.cpp) on m_blockedSenders
    // and "Blocklist.txt" in the data folder (the program folder on
    // Windows).
    std::string BlocklistPath() const;
    void LoadBlockedSenders();
    // Rewrites the file; when it cannot, shows a message that names the
    // file and returns false.
    bool SaveBlockedSenders();
    bool IsBlockedSender(const std::string& address) const;
    BlockedSender* FindBlockedSender(const std::string& text, int n);
    bool RemoveBlockedSender(const std::string& text, int n);
    // The list changed: every message is examined again by the next sweep.
    void ForgetExaminedMessages() { m_examinedMessages.clear(); }

    // Arms timer 2 with the check period and timer 3 with 5300 ms; resets the
    // tray icon and tooltip.
    void StartWatching();
    // Arms timer 2 with the check period and timer 3 with 5000 ms (the first
    // account was just added).
    void ArmCheckTimers();
    // The check period in milliseconds: (m_nCheckInterval + 1) minutes.
    unsigned CheckPeriodMs() const;

    // Acknowledges announced mail and starts the mail program, or shows the
    // window when nothing is announced (command "Open").
    void OnOpen();
    // The popup was clicked.
    void OnNotifierClicked();
    // Starts the chosen mail program.
    void LaunchMailProgram();

    // The update check (core/VeskDlgUpdate.cpp), on the UI thread: command
    // "Check For Tavlo Update" asks "/quendel/version" and tells every
    // outcome; the automatic check, once after start-up, asks
    // "/quendel/en/version" and is silent when the version is the same.
    UpdateOutcome OnCheckForUpdate();
    void AutoCheckForUpdate();
    // The client the update check asks through (the platform's by default).
    void SetHttpClient(port::HttpClient& client) { m_pHttpClient = &client; }

    void SetReportHandler(ReportHandler handler) { m_reportHandler = std::move(handler); }
    void SetMessageBoxHandler(MessageBoxHandler handler) {
        m_messageBoxHandler = std::move(handler);
    }

    const CSystemTray& Tray() const { return m_tray; }
    const CTaskbarNotifier& Notifier() const { return m_notifier; }

    // Settings read at start-up.
    int m_nMailClient = -1;
    int m_bAnimate = 1;
    int m_bSound = 1;
    int m_bAutostart = 1;
    int m_bCheckForUpdates = 1;
    bool m_bAutostartEmailProgram = false;
    int m_nCheckInterval = 9;

    std::vector<CAccount> m_accounts;
    std::vector<BlockedSender> m_blockedSenders;
    std::string m_strVersion = kVersion;
    bool m_bMailAnnounced = false;

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;
    bool OnInitDialog() override;

    // The hand-over at the end of a cycle: tray, popup, sound, animation,
    // mail program.
    virtual void AnnounceMail(bool manual, bool anyMail, const std::string& report);
    // Dialog data exchange towards the controls after each account.
    virtual void RefreshControls();
    // The update check, on demand (OnCheckForUpdate) and once after
    // start-up (AutoCheckForUpdate).
    virtual void RunUpdateCheck(bool manual);
    // Asks the shell to "open" a program or file, shown normal.
    void RunProgram(const std::string& path);
    // A message box owned by the main window. While it is open a top-level
    // window with its caption exists (IsMessageBoxOpen), so that a cycle
    // started from the box's nested message loop can tell.
    void ShowMessageBox(const std::string& text, const std::string& caption);
    bool IsMessageBoxOpen(const std::string& caption) const;

    CVeskApp& m_app;

private:
    void OnCreate();
    void OnTimer(unsigned id);
    bool OnCommand(unsigned id, unsigned code);
    void OnClose();
    void OnExit();
    void OnOkButton();
    void OnPaint();
    void OnAbout();
    // The About box, modally (command 32773 and system command 16).
    void RunAboutBox();
    void OnVisitHomepage();
    void OnMailClientChange();
    void OnSettings(); // core/VeskDlgSettings.cpp
    void OnCheckMailCommand() { CheckMail(true); }
    void StartAnimation();
    void PlayMailSound();
    // Both update checks: asks path on the update host, compares the first
    // line with m_strVersion and shows the outcome (the same version only
    // when tellUpToDate).
    UpdateOutcome CheckForUpdate(const char* path, unsigned timeoutMs, bool tellUpToDate);

    // The mail program list (combo box 1063): filling and choosing.
    void FillMailClientList();

    // The account commands (core/VeskDlgAccounts.cpp).
    void FillAccountListBox();
    void OnAddAccount();
    void OnDeleteAccount();
    void OnEditAccount();
    void OnAccountSelChange();
    void EnableAccountButtons(bool enable);

    // The blocked-sender commands (core/VeskDlgBlocked.cpp).
    void FillBlockedListBox();
    void OnAddBlockedSender();
    void OnDeleteBlockedSender();
    void OnEditBlockedSender();
    void OnBlockedSelChange();
    void EnableBlockedButtons(bool enable);

    // The selected item of a sorted list box and which of the items with
    // its text it is: the n-th from the top (n from 1) stands for the n-th
    // record of that name in list order. index -1: nothing selected.
    struct ListItemRef {
        int index = -1;
        std::string text;
        int occurrence = 0;
    };
    ListItemRef SelectedListItem(int listId) const;
    // Adds an item and selects the first item that begins with its text,
    // letter case ignored (the list box's prefix search from the top).
    void AddListItem(int listId, const std::string& text);
    // Replaces the item at index by text and selects the last item whose
    // text equals it exactly.
    void ReplaceListItem(int listId, int index, const std::string& text);
    // Deletes the item at index and selects the one above it (none when the
    // first went); false when the list box is now empty.
    bool DeleteListItem(int listId, int index);
    // true: controls into members; false: members into controls.
    void UpdateData(bool saveAndValidate);
    bool IsMinimizedSetting();
    void WriteMinimized(bool minimized);

    // Returns the account's message count (0 when it contributes nothing).
    int CheckPop3Account(CAccount& account);
    int CheckImapAccount(CAccount& account); // core/VeskDlgImap.cpp

    port::IconHandle m_hIcon = nullptr;
    CSystemTray m_tray;
    std::unique_ptr<port::Brush> m_pBackBrush;
    CTaskbarNotifier m_notifier;
    CPictureEx m_picture{m_ui}; // control 1130, the animated GIF 291

    port::HttpClient* m_pHttpClient = &port::DefaultHttpClient();
    ReportHandler m_reportHandler;
    MessageBoxHandler m_messageBoxHandler;
    std::vector<std::string> m_openBoxCaptions;
    // Per POP3 mailbox (server and user name): the messages the sweep has
    // found not blocked by the current list.
    std::map<std::string, ExaminedMessages> m_examinedMessages;
    // Blocklist.txt was read only in part: it is not rewritten.
    bool m_bBlocklistCut = false;
};
