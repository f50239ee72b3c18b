// The main window's "Settings..." command: the options dialog filled from
// the main window and the store, and on OK its values stored and put into
// effect at once.
#include "config/OptionsDialog.h"
#include "config/Settings.h"
#include "core/VeskDlg.h"
#include "platform/Paths.h"

namespace {

constexpr const char* kSettingsCaption = "Settings";

} // namespace

void CVeskDlg::OnSettings() {
    const std::string exePath = port::ExecutablePath();
    port::ProfileStore& store = m_app.Profile();

    CAdvanced dialog(m_ui, m_hWnd);
    dialog.m_nInterval = m_nCheckInterval;
    dialog.m_strMailClient = ReadMyMailClient(store);
    dialog.m_strSound = ReadMySound(store, exePath);
    dialog.m_strAnimation = ReadMyAnimation(store, exePath);
    dialog.m_bSound = m_bSound;
    dialog.m_bAnimate = m_bAnimate;
    dialog.m_bAutostart = m_bAutostart;
    dialog.m_bCheckForUpdates = m_bCheckForUpdates;
    dialog.m_bAutostartEmailProgram = m_bAutostartEmailProgram ? 1 : 0;
    dialog.m_strCaption = kSettingsCaption;
    dialog.m_strSoundFolder = GetSoundFolder(exePath);
    dialog.m_strAnimationFolder = GetAnimationFolder(exePath);
    if (dialog.DoModal() != port::kIdOk)
        return;

    // The store's writes and the autostart entry come first, in their
    // order; the main window's copies have no outside effect until the
    // timer below.
    StoreOptions(store, dialog, exePath, [](bool enable) { WriteAutostart(enable); });
    m_bAutostart = dialog.m_bAutostart;
    m_bAutostartEmailProgram = dialog.m_bAutostartEmailProgram != 0;
    m_bCheckForUpdates = dialog.m_bCheckForUpdates;
    m_bSound = dialog.m_bSound;
    m_bAnimate = dialog.m_bAnimate;

    // The new period from now on; the next check comes after it.
    m_nCheckInterval = dialog.m_nInterval;
    m_ui.KillTimer(m_hWnd, kTimerCheck);
    m_ui.SetTimer(m_hWnd, kTimerCheck, CheckPeriodMs());
}
