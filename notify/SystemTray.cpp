#include "notify/SystemTray.h"

#include "res/resource.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// The notification area exists from shell version 4 on.
constexpr int kFirstShellWithTray = 4;

static_assert(CSystemTray::kIconId == IDR_TRAY_MENU, "the icon's menu carries the icon's number");

} // namespace

CSystemTray::CSystemTray(port::Ui& ui) : CWnd(ui) {}

CSystemTray::~CSystemTray() {
    RemoveIcon();
    DestroyWindow();
}

bool CSystemTray::Create(CWnd* pParent, const std::string& tooltip, port::IconHandle icon) {
    if (m_ui.ShellMajorVersion() < kFirstShellWithTray)
        return false;

    if (m_hWnd == nullptr) {
        port::WindowSpec spec;
        spec.className = "TavloTrayWindow"; // no cursor, brush or icon
        spec.rect = port::Rect{0, 0, 10, 10};
        const port::WindowHandle window = m_ui.CreatePopupWindow(spec, this);
        if (m_hWnd == nullptr)
            m_hWnd = window;
    }

    const port::WindowHandle parentWindow = pParent != nullptr ? pParent->GetSafeHwnd() : nullptr;
    m_iconData = port::NotifyIconData{};
    m_iconData.cbSize = kIconDataSize;
    m_iconData.hWnd = parentWindow != nullptr ? parentWindow : m_hWnd;
    m_iconData.uID = kIconId;
    m_iconData.uFlags = port::kNifMessage | port::kNifIcon | port::kNifTip;
    m_iconData.uCallbackMessage = kWmTrayNotification;
    m_iconData.hIcon = icon;
    CopyTooltip(tooltip);

    m_bIconAdded = m_ui.NotifyIcon(port::NotifyIconAction::Add, m_iconData) ? 1 : 0;
    return m_bIconAdded != 0;
}

void CSystemTray::CopyTooltip(const std::string& text) {
    // The field ends with a NUL: at most 127 characters fit.
    const std::size_t length = std::min(text.size(), sizeof m_iconData.szTip - 1);
    std::memset(m_iconData.szTip, 0, sizeof m_iconData.szTip);
    std::memcpy(m_iconData.szTip, text.data(), length);
}

void CSystemTray::RemoveIcon() {
    if (!m_bIconAdded)
        return;
    m_iconData.uFlags = 0;
    m_ui.NotifyIcon(port::NotifyIconAction::Delete, m_iconData);
    m_bIconAdded = 0;
}

void CSystemTray::HideIcon() {
    if (!m_bIconAdded || m_bIconHidden)
        return;
    m_iconData.uFlags = port::kNifIcon;
    m_ui.NotifyIcon(port::NotifyIconAction::Delete, m_iconData);
    m_bIconHidden = 1;
}

void CSystemTray::ShowIcon() {
    if (!m_bIconAdded || !m_bIconHidden)
        return;
    m_iconData.uFlags = port::kNifMessage | port::kNifIcon | port::kNifTip;
    m_ui.NotifyIcon(port::NotifyIconAction::Add, m_iconData);
    m_bIconHidden = 0;
}

bool CSystemTray::SetIcon(port::IconHandle icon) {
    if (!m_bIconAdded)
        return false;
    m_iconData.hIcon = icon;
    m_iconData.uFlags = port::kNifIcon;
    return m_ui.NotifyIcon(port::NotifyIconAction::Modify, m_iconData);
}

bool CSystemTray::SetIcon(int iconResourceId) {
    return SetIcon(m_ui.LoadIcon(iconResourceId));
}

bool CSystemTray::SetTooltipText(const std::string& text) {
    if (!m_bIconAdded)
        return false;
    m_iconData.uFlags = port::kNifTip;
    CopyTooltip(text);
    return m_ui.NotifyIcon(port::NotifyIconAction::Modify, m_iconData);
}

bool CSystemTray::SetTooltipText(int stringResourceId) {
    return SetTooltipText(m_ui.LoadString(stringResourceId));
}

bool CSystemTray::SetMenuDefaultItem(unsigned item, bool byPosition) {
    if (m_nDefaultItem == item && (m_bDefaultByPosition != 0) == byPosition)
        return true;
    m_nDefaultItem = item;
    m_bDefaultByPosition = byPosition ? 1 : 0;
    const std::unique_ptr<port::Menu> menu = m_ui.LoadPopupMenu(IDR_TRAY_MENU);
    if (!menu)
        return false;
    menu->SetDefaultItem(m_nDefaultItem, m_bDefaultByPosition != 0);
    return true;
}

bool CSystemTray::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                             std::intptr_t& result) {
    if (message == kWmTrayNotification) {
        result = OnTrayNotification(wParam, lParam);
        return true;
    }
    return false;
}

std::intptr_t CSystemTray::OnTrayNotification(std::uintptr_t id, std::intptr_t mouseMessage) {
    if (id != kIconId)
        return 0;
    const port::WindowHandle target = m_ui.GetMainWindow();
    // Newer shells put the mouse message in the low word only.
    const unsigned mouse = port::LowWord(static_cast<std::uintptr_t>(mouseMessage));

    if (mouse == port::kWmRButtonUp) {
        const std::unique_ptr<port::Menu> menu = m_ui.LoadPopupMenu(IDR_TRAY_MENU);
        if (!menu)
            return 0;
        menu->SetDefaultItem(m_nDefaultItem, m_bDefaultByPosition != 0);
        const port::Point at = m_ui.GetCursorPos();
        // The owner of a tracked menu must be in the foreground, or the menu
        // does not close when the user clicks elsewhere; the empty message
        // afterwards makes the menu go away reliably.
        m_ui.SetForegroundWindow(target);
        menu->Track(at, target);
        m_ui.PostMessage(target, port::kWmNull, 0, 0);
        return 1;
    }

    if (mouse == port::kWmLButtonDblClk) {
        m_ui.SetForegroundWindow(target);
        unsigned command = m_nDefaultItem;
        if (m_bDefaultByPosition) {
            const std::unique_ptr<port::Menu> menu = m_ui.LoadPopupMenu(IDR_TRAY_MENU);
            if (!menu)
                return 0;
            const int id = menu->GetItemId(static_cast<int>(m_nDefaultItem));
            command = id > 0 ? static_cast<unsigned>(id) : 0;
        }
        // A position without a command (a separator) runs nothing.
        if (command != 0)
            m_ui.SendMessage(target, port::kWmCommand, port::MakeCommandParam(command), 0);
        return 1;
    }

    return 1;
}
