// The announcement of new mail: tray icon and tooltip, popup, sound, the
// delayed animation program, and the acknowledgement ("Open", a click on the
// popup) after which the next mail is announced afresh.
#include "config/Settings.h"
#include "core/VeskDlg.h"
#include "platform/Paths.h"
#include "res/resource.h"

void CVeskDlg::AnnounceMail(bool manual, bool anyMail, const std::string& report) {
    if (m_reportHandler) {
        m_reportHandler(manual, anyMail, report);
        return;
    }

    if (anyMail) {
        // On every cycle that finds mail, announced before or not.
        if (m_bAutostartEmailProgram)
            LaunchMailProgram();

        m_tray.SetTooltipText(report);

        const std::string popup = m_ui.LoadString(IDS_POPUP_TITLE) + "\n\n" + report;
        if (!m_bMailAnnounced) {
            m_tray.SetIcon(IDI_MAIL);
            m_bMailAnnounced = true;
            if (manual) {
                m_notifier.Show(popup, kManualStayMs);
            } else {
                m_notifier.Show(popup, kAutomaticStayMs);
                if (m_bSound == 1)
                    PlayMailSound();
                if (m_bAnimate == 1)
                    m_ui.SetTimer(m_hWnd, kTimerAnimation, kAnimationDelayMs);
            }
        } else if (manual) {
            m_notifier.Show(popup, kManualStayMs);
        }
        return;
    }

    if (m_bMailAnnounced) {
        m_bMailAnnounced = false;
        m_tray.SetTooltipText(IDS_CHECKING_FOR_MAIL);
        m_tray.SetIcon(IDI_QUIET);
    } else if (manual) {
        std::string text(1, '\n');
        text += m_ui.LoadString(IDS_NO_NEW_MAIL);
        m_notifier.Show(text, kManualStayMs);
    }
}

void CVeskDlg::PlayMailSound() {
    // Synchronous: the window answers again when the sound has finished.
    m_ui.PlaySound(ReadMySound(m_app.Profile(), port::ExecutablePath()));
}

void CVeskDlg::StartAnimation() {
    m_ui.KillTimer(m_hWnd, kTimerAnimation);
    if (IsMinimizedSetting())
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
    RunProgram(ReadMyAnimation(m_app.Profile(), port::ExecutablePath()));
    // Starting a program can bring the window up again.
    if (IsMinimizedSetting())
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::Hide);
}

void CVeskDlg::RunProgram(const std::string& path) {
    m_ui.ShellOpen(path, std::string(), std::string());
}

void CVeskDlg::OnOpen() {
    if (m_bMailAnnounced) {
        m_ui.KillTimer(m_hWnd, kTimerAnimation);
        m_bMailAnnounced = false;
        m_tray.SetTooltipText(IDS_CHECKING_FOR_MAIL);
        m_tray.SetIcon(IDI_QUIET);
        // The next periodic check is a full period away.
        m_ui.KillTimer(m_hWnd, kTimerCheck);
        m_ui.SetTimer(m_hWnd, kTimerCheck, CheckPeriodMs());
        LaunchMailProgram();
    } else {
        WriteMinimized(false);
        m_ui.ShowWindow(m_hWnd, port::ShowCommand::NoActivate);
    }
}

void CVeskDlg::OnNotifierClicked() {
    if (m_notifier.GetState() != CTaskbarNotifier::kIdle)
        OnOpen();
}
