// The program's icon in the notification area of the taskbar: its icon and
// tooltip, hiding and showing it, and the menu and default command that the
// mouse reaches through it.
#pragma once

#include "platform/Ui.h"
#include "platform/Wnd.h"

#include <cstdint>
#include <string>

class CSystemTray : public CWnd {
public:
    // The icon's identifier, also the number of its menu resource.
    static constexpr std::uint32_t kIconId = 216;
    // The message the notification area sends to the callback window.
    static constexpr unsigned kWmTrayNotification = port::kWmUser + 10; // 1034
    // The size of the platform's notification-icon record (its 508-byte form).
    static constexpr std::uint32_t kIconDataSize = 508;

    explicit CSystemTray(port::Ui& ui);
    ~CSystemTray() override;

    // Adds the icon. The notification messages go to the parent's window when
    // it has one, else to a hidden window of the tray's own. False where the
    // shell has no notification area, or when the icon was not added.
    bool Create(CWnd* pParent, const std::string& tooltip, port::IconHandle icon);

    void RemoveIcon();
    void HideIcon();
    void ShowIcon();
    bool SetIcon(port::IconHandle icon);
    bool SetIcon(int iconResourceId);
    // The tooltip holds 127 characters; a longer text is cut there.
    bool SetTooltipText(const std::string& text);
    bool SetTooltipText(int stringResourceId);
    bool SetMenuDefaultItem(unsigned item, bool byPosition);

    // id: the icon identifier (wParam); mouseMessage: lParam.
    virtual std::intptr_t OnTrayNotification(std::uintptr_t id, std::intptr_t mouseMessage);

    // Read-only views for callers and tests.
    bool IsIconAdded() const { return m_bIconAdded != 0; }
    bool IsIconHidden() const { return m_bIconHidden != 0; }
    const port::NotifyIconData& IconData() const { return m_iconData; }
    unsigned DefaultItem() const { return m_nDefaultItem; }
    bool DefaultByPosition() const { return m_bDefaultByPosition != 0; }

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    void CopyTooltip(const std::string& text);

    std::int32_t m_bIconAdded = 0;
    std::int32_t m_bIconHidden = 0;
    port::NotifyIconData m_iconData{};
    std::uint32_t m_nDefaultItem = 1;
    std::int32_t m_bDefaultByPosition = 0;
};
