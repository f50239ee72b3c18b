// The main window's account commands: the account list box 1074 and the
// Add, Delete and Edit buttons. The list box sorts its names while
// m_accounts keeps insertion order (the occurrence rule, config/Occurrence.h).
#include "config/AccountDialog.h"
#include "config/ProxySetting.h"
#include "core/VeskDlg.h"
#include "res/resource.h"

namespace {

constexpr const char* kAddCaption = "Add a new e-mail account";
constexpr const char* kEditCaption = "View or change e-mail account settings";

} // namespace

void CVeskDlg::FillAccountListBox() {
    m_ui.ListResetContent(m_hWnd, IDC_ACCOUNTS_LIST);
    for (const CAccount& account : m_accounts)
        m_ui.ListAddString(m_hWnd, IDC_ACCOUNTS_LIST, account.m_strAccountName);
}

void CVeskDlg::EnableAccountButtons(bool enable) {
    m_ui.EnableItem(m_hWnd, IDC_ACCOUNT_DELETE, enable);
    m_ui.EnableItem(m_hWnd, IDC_ACCOUNT_EDIT, enable);
}

void CVeskDlg::OnAddAccount() {
    ADD dialog(m_ui, m_app.AppName(), m_hWnd);
    dialog.m_strCaption = kAddCaption;
    dialog.m_proxy = ReadProxySetting(m_app.Profile());
    if (dialog.DoModal() != port::kIdOk)
        return;

    AddListItem(IDC_ACCOUNTS_LIST, dialog.m_strAccountName);
    EnableAccountButtons(true);

    CAccount account;
    dialog.ApplyTo(account);
    // From a temporary: GCC 12 at -O3 warns falsely (-Wrestrict) on the
    // assignment of the literal itself here.
    account.m_strLastMessage = std::string("0");
    m_accounts.push_back(account);
    SaveAccounts();

    // The first account: checking starts now.
    if (m_accounts.size() == 1)
        ArmCheckTimers();
}

void CVeskDlg::OnDeleteAccount() {
    const ListItemRef item = SelectedListItem(IDC_ACCOUNTS_LIST);
    if (item.index < 0)
        return;
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
    // a literal + string + literal chain.
    std::string question = "Are you sure you want to delete your account (";
    question += item.text;
    question += ")?";
    if (m_ui.MessageBox(m_hWnd, question, m_app.AppName(), port::kMbYesNo) != port::kIdYes) {
        m_ui.ListSetCurSel(m_hWnd, IDC_ACCOUNTS_LIST, item.index);
        return;
    }

    RemoveAccount(item.text, item.occurrence);
    SaveAccounts();

    if (!DeleteListItem(IDC_ACCOUNTS_LIST, item.index)) {
        EnableAccountButtons(false);
        // Nothing left to check first; the periodic timer keeps running.
        m_ui.KillTimer(m_hWnd, kTimerFirstCheck);
    }
}

void CVeskDlg::OnEditAccount() {
    const ListItemRef item = SelectedListItem(IDC_ACCOUNTS_LIST);
    if (item.index < 0 || m_ui.ListGetCount(m_hWnd, IDC_ACCOUNTS_LIST) == 0)
        return;
    const CAccount* shown = FindAccount(item.text, item.occurrence);
    if (shown == nullptr)
        return;

    ADD dialog(m_ui, m_app.AppName(), m_hWnd);
    dialog.m_strCaption = kEditCaption;
    dialog.LoadFrom(*shown);
    dialog.m_proxy = ReadProxySetting(m_app.Profile());
    if (dialog.DoModal() != port::kIdOk) {
        m_ui.ListSetCurSel(m_hWnd, IDC_ACCOUNTS_LIST, item.index);
        return;
    }

    // Found again: a check that ran while the dialog was open may have
    // changed the list's storage.
    CAccount* account = FindAccount(item.text, item.occurrence);
    if (account == nullptr)
        return;
    const std::string oldName = account->m_strAccountName;
    dialog.ApplyTo(*account); // the newest-message marker stays

    if (dialog.m_strAccountName != oldName)
        ReplaceListItem(IDC_ACCOUNTS_LIST, item.index, dialog.m_strAccountName);
    SaveAccounts();
}

void CVeskDlg::OnAccountSelChange() {
    if (m_ui.ListGetCurSel(m_hWnd, IDC_ACCOUNTS_LIST) >= 0)
        EnableAccountButtons(true);
}
