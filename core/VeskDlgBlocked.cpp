// The main window's blocked senders: the list m_blockedSenders and its file
// "Blocklist.txt", the list box 1075 that shows it sorted, and the Add,
// Delete and Edit commands, which open the block-sender dialog and keep the
// list, the list box and the file in step.
#include "config/BlockSenderDialog.h"
#include "core/VeskDlg.h"
#include "platform/Errors.h"
#include "res/resource.h"

std::string CVeskDlg::BlocklistPath() const {
    return m_app.DataFolder() + kBlocklistFileName;
}

void CVeskDlg::LoadBlockedSenders() {
    // A missing or unreadable file leaves the list as it is, without a
    // message; one read only in part is kept from being rewritten.
    m_bBlocklistCut = ::LoadBlockedSenders(BlocklistPath(), m_blockedSenders) == BlocklistLoad::Cut;
    ForgetExaminedMessages();
}

bool CVeskDlg::SaveBlockedSenders() {
    const std::string path = BlocklistPath();
    if (m_bBlocklistCut) {
        ShowMessageBox(BlocklistTooLargeError(path), std::string());
        return false;
    }
    if (!::SaveBlockedSenders(path, m_blockedSenders)) {
        ShowMessageBox(BlocklistWriteError(path, port::GetLastErrorValue()), std::string());
        return false;
    }
    return true;
}

bool CVeskDlg::IsBlockedSender(const std::string& address) const {
    return BlockedSenderMatcher(m_blockedSenders).IsBlocked(address);
}

BlockedSender* CVeskDlg::FindBlockedSender(const std::string& text, int n) {
    return ::FindBlockedSender(m_blockedSenders, text, n);
}

bool CVeskDlg::RemoveBlockedSender(const std::string& text, int n) {
    return ::RemoveBlockedSender(m_blockedSenders, text, n);
}

void CVeskDlg::FillBlockedListBox() {
    for (const BlockedSender& entry : m_blockedSenders)
        m_ui.ListAddString(m_hWnd, IDC_BLOCKED_LIST, entry.m_strAddress);
}

void CVeskDlg::EnableBlockedButtons(bool enable) {
    m_ui.EnableItem(m_hWnd, IDC_BLOCKED_DELETE, enable);
    m_ui.EnableItem(m_hWnd, IDC_BLOCKED_EDIT, enable);
}

void CVeskDlg::OnAddBlockedSender() {
    Spam dialog(m_ui, m_app.AppName(), m_hWnd);
    dialog.m_strCaption = kAddBlockedCaption;
    if (dialog.DoModal() != port::kIdOk)
        return;

    AddListItem(IDC_BLOCKED_LIST, dialog.m_strAddress);
    EnableBlockedButtons(true);
    m_blockedSenders.push_back(BlockedSender{dialog.m_strAddress});
    ForgetExaminedMessages();
    SaveBlockedSenders();
}

void CVeskDlg::OnDeleteBlockedSender() {
    const ListItemRef item = SelectedListItem(IDC_BLOCKED_LIST);
    if (item.index < 0)
        return;
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
    // a literal + string + literal chain.
    std::string question = "Are you sure you want to delete ";
    question += item.text;
    question += " as blocked sender / domain?";
    if (m_ui.MessageBox(m_hWnd, question, m_app.AppName(), port::kMbYesNo) != port::kIdYes) {
        m_ui.ListSetCurSel(m_hWnd, IDC_BLOCKED_LIST, item.index);
        return;
    }

    RemoveBlockedSender(item.text, item.occurrence);
    ForgetExaminedMessages();
    if (!SaveBlockedSenders())
        return;

    if (!DeleteListItem(IDC_BLOCKED_LIST, item.index))
        EnableBlockedButtons(false);
}

void CVeskDlg::OnEditBlockedSender() {
    const ListItemRef item = SelectedListItem(IDC_BLOCKED_LIST);
    if (item.index < 0 || m_ui.ListGetCount(m_hWnd, IDC_BLOCKED_LIST) == 0)
        return;
    const BlockedSender* shown = FindBlockedSender(item.text, item.occurrence);
    if (shown == nullptr)
        return;

    Spam dialog(m_ui, m_app.AppName(), m_hWnd);
    dialog.m_strCaption = kEditBlockedCaption;
    dialog.m_strAddress = shown->m_strAddress;
    if (dialog.DoModal() != port::kIdOk) {
        m_ui.ListSetCurSel(m_hWnd, IDC_BLOCKED_LIST, item.index);
        return;
    }

    // Found again: commands run from the dialog's message loop.
    BlockedSender* entry = FindBlockedSender(item.text, item.occurrence);
    if (entry == nullptr)
        return;
    entry->m_strAddress = dialog.m_strAddress;
    if (dialog.m_strAddress != item.text)
        ReplaceListItem(IDC_BLOCKED_LIST, item.index, dialog.m_strAddress);
    ForgetExaminedMessages();
    SaveBlockedSenders();
}

void CVeskDlg::OnBlockedSelChange() {
    if (m_ui.ListGetCurSel(m_hWnd, IDC_BLOCKED_LIST) >= 0)
        EnableBlockedButtons(true);
}
