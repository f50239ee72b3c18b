// The main window's start-up, timers and command routing.
#include "config/AboutDialog.h"
#include "config/Settings.h"
#include "controls/DialogLook.h"
#include "controls/FaderWnd.h"
#include "core/VeskDlg.h"
#include "core/WebSite.h"
#include "res/resource.h"

#include <algorithm>
#include <cstdint>

namespace {

// The longest period a window timer keeps (USER_TIMER_MAXIMUM).
constexpr std::int64_t kLongestTimerMs = 0x7FFFFFFF;

// The English texts that replace the template's placeholders.
constexpr ControlText kControlTexts[] = {
    {IDC_ACCOUNTS_LABEL, "E-mail Accounts"},
    {IDC_ACCOUNT_ADD, "Add"},
    {IDC_ACCOUNT_DELETE, "Delete"},
    {IDC_ACCOUNT_EDIT, "Edit"},
    {IDC_MAILPROGRAM_LABEL, "E-Mail Program"},
    {IDC_BLOCKED_LABEL, "Blocked senders / domains"},
    {IDC_BLOCKED_ADD, "Add"},
    {IDC_BLOCKED_DELETE, "Delete"},
    {IDC_BLOCKED_EDIT, "Edit"},
    {IDC_OK_BUTTON, "OK"},
};

// The popup's text area inside the skin.
constexpr int kTextMargin = 10;
constexpr int kTextBottomMargin = 25;

} // namespace

CVeskDlg::CVeskDlg(CVeskApp& app) : CVeskDlg(app, CheckOnly{}) {
    // A second copy hands over to the running one: that window is shown and
    // comes to the front, and this process ends before it reads anything.
    if (port::WindowHandle running = m_ui.FindTopLevelWindow(TXT_MAIN_CAPTION)) {
        WriteMinimized(false);
        m_ui.ShowWindow(running, port::ShowCommand::Default);
        m_ui.SetForegroundWindow(running);
        m_ui.BringWindowToTop(running);
        m_ui.ExitProcess(0);
    }

    LoadAccounts();
    LoadBlockedSenders();

    const StartupSettings settings = ReadStartupSettings(m_app.Profile());
    m_nCheckInterval = settings.m_nCheckInterval;
    m_bSound = settings.m_bSound ? 1 : 0;
    m_bAnimate = settings.m_bAnimate ? 1 : 0;
    m_bAutostart = settings.m_bAutostart ? 1 : 0;
    m_bCheckForUpdates = settings.m_bCheckForUpdates ? 1 : 0;
    m_bAutostartEmailProgram = settings.m_bAutostartEmailProgram;

    m_hIcon = m_ui.LoadIcon(IDI_QUIET);

    // The window does not exist yet, so the tray's notifications go to the
    // tray's own window, which hands commands to the main window.
    m_tray.Create(this, m_ui.LoadString(IDS_CHECKING_FOR_MAIL), m_hIcon);
    m_tray.SetMenuDefaultItem(2, true); // "Open"

    m_bMailAnnounced = false;

    if (m_bAutostart)
        WriteAutostart(true);
}

unsigned CVeskDlg::CheckPeriodMs() const {
    // A stored interval below 0 would give a period of 0 or less, which the
    // window system turns into a check every few milliseconds: such a value
    // takes the default. Very large ones stop at the longest timer.
    const int interval =
        m_nCheckInterval >= 0 ? m_nCheckInterval : static_cast<int>(kDefaultSearchForMail);
    const std::int64_t period = (static_cast<std::int64_t>(interval) + 1) * 60000;
    return static_cast<unsigned>(std::min(period, kLongestTimerMs));
}

void CVeskDlg::StartWatching() {
    m_ui.SetTimer(m_hWnd, kTimerCheck, CheckPeriodMs());
    m_ui.SetTimer(m_hWnd, kTimerFirstCheck, kFirstCheckAfterStartMs);
    m_tray.SetIcon(IDI_QUIET);
    m_tray.SetTooltipText(IDS_CHECKING_FOR_MAIL);
    UpdateData(false);
}

void CVeskDlg::ArmCheckTimers() {
    UpdateData(true);
    m_ui.SetTimer(m_hWnd, kTimerCheck, CheckPeriodMs());
    m_ui.SetTimer(m_hWnd, kTimerFirstCheck, kFirstCheckAfterAddMs);
}

void CVeskDlg::OnCreate() {
    m_ui.SetMainWindow(m_hWnd);

    m_notifier.Create(this);
    m_notifier.SetSkin();
    m_notifier.SetTextFont();
    m_notifier.SetTextColors();
    m_notifier.SetTextRect(port::Rect{kTextMargin, kTextMargin,
                                      m_notifier.GetSkinSize().cx - kTextMargin,
                                      m_notifier.GetSkinSize().cy - kTextBottomMargin});
}

bool CVeskDlg::OnInitDialog() {
    SetControlTexts(m_ui, m_hWnd, kControlTexts);

    FillMailClientList();

    m_ui.SetWindowMenu(m_hWnd, IDR_MAIN_MENU);
    const std::string about = m_ui.LoadString(IDS_ABOUTBOX);
    if (!about.empty())
        m_ui.AppendSystemMenuItem(m_hWnd, IDM_ABOUTBOX, about);

    FillAccountListBox();
    FillBlockedListBox();

    m_ui.ListSetCurSel(m_hWnd, IDC_MAILPROGRAM, m_nMailClient);
    UpdateData(true);

    m_ui.SetSmallIcon(m_hWnd, m_hIcon);

    // Delete and Edit of both lists wait for a selection.
    EnableAccountButtons(false);
    EnableBlockedButtons(false);

    m_pBackBrush = m_ui.CreateSolidBrush(kDialogBackColour);

    // Control 1130 plays GIF 291; without it the window goes on as it is.
    if (m_picture.SubclassDlgItem(IDC_PICTURE, m_hWnd) && m_picture.LoadPicture(IDR_MAIN_GIF))
        m_picture.ShowPicture();

    UpdateData(false);

    if (m_accounts.empty()) {
        // Nothing to watch yet: the window stays open for the first account.
        WriteMinimized(false);
    } else {
        WriteMinimized(true);
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
        StartWatching();
    }

    m_ui.SetTimer(m_hWnd, kTimerUpdate, kUpdateCheckDelayMs);
    return true;
}

void CVeskDlg::UpdateData(bool saveAndValidate) {
    if (m_hWnd == nullptr)
        return;
    if (saveAndValidate)
        m_nMailClient = m_ui.ListGetCurSel(m_hWnd, IDC_MAILPROGRAM);
    else
        m_ui.ListSetCurSel(m_hWnd, IDC_MAILPROGRAM, m_nMailClient);
}

void CVeskDlg::RefreshControls() {
    UpdateData(false);
}

bool CVeskDlg::IsMinimizedSetting() {
    return m_app.GetProfileInt(kSectionApp, kValueMinimized, kDefaultMinimized) == 1;
}

void CVeskDlg::WriteMinimized(bool minimized) {
    m_app.WriteProfileInt(kSectionApp, kValueMinimized, minimized ? 1 : 0);
}

void CVeskDlg::OnTimer(unsigned id) {
    switch (id) {
    case kTimerCheck:
        CheckMail(false);
        break;
    case kTimerFirstCheck:
        m_ui.KillTimer(m_hWnd, kTimerFirstCheck);
        CheckMail(false);
        break;
    case kTimerAnimation:
        StartAnimation();
        break;
    case kTimerUpdate:
        m_ui.KillTimer(m_hWnd, kTimerUpdate);
        if (m_bCheckForUpdates)
            RunUpdateCheck(false);
        break;
    default:
        break;
    }
}

bool CVeskDlg::OnCommand(unsigned id, unsigned code) {
    switch (id) {
    case ID_CHECK_MAIL:
        OnCheckMailCommand();
        return true;
    case ID_CLOSE:
        OnClose();
        return true;
    case ID_APP_EXIT_CMD:
        OnExit();
        return true;
    case ID_OPEN:
        OnOpen();
        return true;
    case ID_CHECK_UPDATE:
        RunUpdateCheck(true);
        return true;
    case ID_VISIT_HOMEPAGE:
        OnVisitHomepage();
        return true;
    case ID_ABOUT:
        OnAbout();
        return true;
    case IDC_OK_BUTTON:
        OnOkButton();
        return true;
    case IDC_MAILPROGRAM:
        if (code == port::kSelChange)
            OnMailClientChange();
        return true;
    case ID_SETTINGS:
        OnSettings();
        return true;
    case IDC_ACCOUNT_ADD:
        OnAddAccount();
        return true;
    case IDC_ACCOUNT_DELETE:
        OnDeleteAccount();
        return true;
    case IDC_ACCOUNT_EDIT:
        OnEditAccount();
        return true;
    case IDC_ACCOUNTS_LIST:
        if (code == port::kSelChange)
            OnAccountSelChange();
        else if (code == port::kListDblClk)
            OnEditAccount();
        return true;
    case IDC_BLOCKED_ADD:
        OnAddBlockedSender();
        return true;
    case IDC_BLOCKED_DELETE:
        OnDeleteBlockedSender();
        return true;
    case IDC_BLOCKED_EDIT:
        OnEditBlockedSender();
        return true;
    case IDC_BLOCKED_LIST:
        if (code == port::kSelChange)
            OnBlockedSelChange();
        else if (code == port::kListDblClk)
            OnEditBlockedSender();
        return true;
    default:
        return false;
    }
}

void CVeskDlg::OnClose() {
    WriteMinimized(true);
    // A fading copy of the window stays behind for a moment. A window that
    // is hidden already has no picture on the screen to fade.
    if (m_hWnd != nullptr && m_ui.IsWindowVisible(m_hWnd))
        CFaderWnd::FadeOut(*this);
    m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
}

void CVeskDlg::OnExit() {
    m_tray.HideIcon();
    m_ui.ExitProcess(1);
}

void CVeskDlg::OnOkButton() {
    OnClose();
    StartWatching();
}

void CVeskDlg::OnAbout() {
    WriteMinimized(false);
    RunAboutBox();
}

void CVeskDlg::RunAboutBox() {
    CAboutDlg about(m_ui, m_hWnd);
    about.DoModal();
}

void CVeskDlg::OnVisitHomepage() {
    RunProgram(kProductPageUrl);
}

void CVeskDlg::OnPaint() {
    if (IsMinimizedSetting())
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
}

bool CVeskDlg::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                          std::intptr_t& result) {
    switch (message) {
    case port::kWmCreate:
        OnCreate();
        result = 0;
        return true;
    case port::kWmTimer:
        OnTimer(static_cast<unsigned>(wParam));
        result = 0;
        return true;
    case port::kWmCommand:
        if (OnCommand(port::LowWord(wParam), port::HighWord(wParam))) {
            result = 0;
            return true;
        }
        return CDialog::WindowProc(message, wParam, lParam, result);
    case port::kWmClose:
        OnClose();
        result = 0;
        return true;
    case port::kWmSysCommand:
        if ((wParam & 0xFFF0u) == IDM_ABOUTBOX) {
            RunAboutBox();
            result = 0;
            return true;
        }
        return false;
    case kNotifierClicked:
        OnNotifierClicked();
        result = 0;
        return true;
    case port::kWmLButtonDown:
        // Dragging from anywhere in the client area moves the window.
        m_ui.DefaultHandling(m_hWnd, message, wParam, lParam);
        m_ui.PostMessage(m_hWnd, port::kWmNcLButtonDown, port::kHtCaption, lParam);
        result = 0;
        return true;
    case port::kWmCtlColorBtn:
    case port::kWmCtlColorDlg:
    case port::kWmCtlColorStatic:
        return ColourOnDialogBrush(m_ui, m_pBackBrush.get(), wParam, result);
    case port::kWmPaint:
        OnPaint();
        if (m_hWnd != nullptr && m_ui.IsIconic(m_hWnd)) {
            // Minimised to an icon: the icon centred on the background.
            const port::Rect client = m_ui.GetClientRect(m_hWnd);
            auto canvas = m_ui.BeginPaint(m_hWnd);
            canvas->FillRect(client, kDialogBackColour);
            constexpr int kIconSize = 32;
            canvas->DrawIcon(m_hIcon, (client.Width() - kIconSize + 1) / 2,
                             (client.Height() - kIconSize + 1) / 2);
            result = 0;
            return true;
        }
        return false;
    case port::kWmQueryDragIcon:
        result = reinterpret_cast<std::intptr_t>(m_hIcon);
        return true;
    case port::kWmDestroy:
        m_ui.DefaultHandling(m_hWnd, message, wParam, lParam);
        m_pBackBrush.reset();
        result = 0;
        return true;
    default:
        return CDialog::WindowProc(message, wParam, lParam, result);
    }
}
