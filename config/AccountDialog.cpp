#include "config/AccountDialog.h"

#include "config/AccountStore.h"
#include "config/ProxySetting.h"
#include "controls/DialogLook.h"
#include "core/ServerAddress.h"
#include "net/Text.h"
#include "net/imap/UT_IMAP4Client.h"
#include "net/pop3/Pop3Connection.h"
#include "res/resource.h"

#include <memory>
#include <utility>

namespace {

// The providers' POP3 servers, all over TLS, and their pages about POP.
constexpr ProviderPreset kProviderPresets[] = {
    {"Gmail", "pop.gmail.com", "https://support.google.com/mail/answer/7104828"},
    {"Hotmail", "outlook.office365.com",
     "https://support.microsoft.com/en-us/office/"
     "pop-imap-and-smtp-settings-for-outlook-com-d088b986-291d-42b8-9564-9c414e2aa040"},
    {"Yahoo Mail", "pop.mail.yahoo.com", "https://help.yahoo.com/kb/SLN4075.html"},
};

constexpr int kPop3Port = 110;
constexpr int kPop3TlsPort = 995;

// The English texts that replace the template's placeholders.
constexpr ControlText kControlTexts[] = {
    {IDC_ADD_GROUP, "Account Settings"},
    {IDC_ADD_NAME_LABEL, "E-mail account"},
    {IDC_ADD_HINT1, "Type a descriptive name for the account,"},
    {IDC_ADD_HINT2, "for example, Work or Dave(ISP)"},
    {IDC_ADD_USER_LABEL, "User Name"},
    {IDC_ADD_PASSWORD_LABEL, "Password"},
    {IDC_ADD_TYPE_LABEL, "Account type"},
    {IDC_ADD_SERVER_LABEL, "Incoming mail server"},
    {IDC_ADD_SSL, "Secure Connection (SSL)"},
    {IDC_ADD_TEST, "Test Account Settings"},
    {port::kIdCancel, "Cancel"},
};

constexpr const char* kHelpLinkText = "Help";

constexpr const char* kTestSucceeded =
    "Congratulations! The test of your account settings completed successfully.";
constexpr const char* kTestFailed =
    "The test of your account settings failed! Verify your user name, password and incoming "
    "mail server.\n\nIf you have a firewall on your computer, allow Tavlo full access to the "
    "Internet.";

} // namespace

std::span<const ProviderPreset> ProviderPresets() {
    return kProviderPresets;
}

const ProviderPreset* FindProviderPreset(const std::string& name) {
    for (const ProviderPreset& preset : kProviderPresets) {
        if (name == preset.name)
            return &preset;
    }
    return nullptr;
}

std::string AccountFieldsProblem(const CAccount& account) {
    if (account.m_strAccountName.empty())
        return kTypeAccountNameText;
    if (account.m_strUserName.empty())
        return kTypeUserNameText;
    if (account.m_strPassword.empty())
        return kTypePasswordText;
    if (account.m_strServer.empty())
        return kTypeServerText;
    return std::string();
}

bool TestAccountSettings(const CAccount& account, const ProxyServer& proxy) {
    // A server text with a line break names no server; nothing is sent.
    if (text::HasLineBreakOrNul(account.m_strServer))
        return false;
    const bool tls = UsesTls(account);
    std::string host;
    int port = 0;
    if (IsImap(account)) {
        // The client logs out and disconnects when it goes.
        auto client = std::make_unique<CUT_IMAP4Client>();
        if (tls)
            client->UseSecurePort();
        client->SetProxy(proxy);
        if (!SplitServerAddress(account.m_strServer, client->GetPort(), host, port))
            return false;
        client->SetPort(port);
        return client->OpenSession(host, account.m_strUserName, account.m_strPassword) ==
               UT::Success;
    }
    if (!SplitServerAddress(account.m_strServer, tls ? kPop3TlsPort : kPop3Port, host, port))
        return false;
    // The connection sends QUIT and disconnects when it goes.
    CPop3Connection connection;
    connection.m_bUseTls = tls ? 1 : 0;
    UseProxy(connection, proxy);
    return connection.Connect(host, account.m_strUserName, account.m_strPassword, port);
}

const char* AccountTestMessage(bool succeeded) {
    return succeeded ? kTestSucceeded : kTestFailed;
}

ADD::ADD(port::Ui& ui, std::string appName, port::WindowHandle owner)
    : CLookDialog(ui, IDD_ADD, owner), m_link(ui), m_strAppName(std::move(appName)) {}

ADD::~ADD() = default;

void ADD::LoadFrom(const CAccount& account) {
    m_strAccountName = account.m_strAccountName;
    m_strUserName = account.m_strUserName;
    m_strPassword = account.m_strPassword;
    m_strServer = account.m_strServer;
    m_nAccountType = IsImap(account) ? kTypeImap : kTypePop3;
    m_bSSL = UsesTls(account) ? 1 : 0;
}

void ADD::ApplyTo(CAccount& account) const {
    account.m_strAccountName = m_strAccountName;
    account.m_strUserName = m_strUserName;
    account.m_strPassword = m_strPassword;
    account.m_strServer = m_strServer;
    account.m_strAccountType = m_nAccountType == kTypePop3 ? "POP3" : "IMAP";
    account.m_strSecurity = m_bSSL ? "SSL" : "NORMAL";
}

bool ADD::OnInitDialog() {
    m_link.SubclassDlgItem(IDC_ADD_HELP, m_hWnd);
    SetControlTexts(m_ui, m_hWnd, kControlTexts);

    // The provider box sorts its items.
    m_ui.ListResetContent(m_hWnd, IDC_ADD_PROVIDER);
    m_ui.ListAddString(m_hWnd, IDC_ADD_PROVIDER, kCustomProvider);
    for (const ProviderPreset& preset : kProviderPresets)
        m_ui.ListAddString(m_hWnd, IDC_ADD_PROVIDER, preset.name);
    m_nProvider = 0;
    for (int i = 0; i < m_ui.ListGetCount(m_hWnd, IDC_ADD_PROVIDER); ++i) {
        if (m_ui.ListGetText(m_hWnd, IDC_ADD_PROVIDER, i) == kCustomProvider)
            m_nProvider = i;
    }
    UpdateData(false);

    m_ui.SetWindowText(m_hWnd, m_strCaption);
    m_brush = m_ui.CreateSolidBrush(kDialogBackColour);
    UpdateHelpLink(kCustomProvider);
    return true;
}

void ADD::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strAccountName = m_ui.GetItemText(m_hWnd, IDC_ADD_NAME);
        m_strPassword = m_ui.GetItemText(m_hWnd, IDC_ADD_PASSWORD);
        m_strServer = m_ui.GetItemText(m_hWnd, IDC_ADD_SERVER);
        m_strUserName = m_ui.GetItemText(m_hWnd, IDC_ADD_USER);
        m_bSSL = m_ui.IsItemChecked(m_hWnd, IDC_ADD_SSL) ? 1 : 0;
        m_nProvider = m_ui.ListGetCurSel(m_hWnd, IDC_ADD_PROVIDER);
        m_nAccountType = m_ui.ListGetCurSel(m_hWnd, IDC_ADD_TYPE);
    } else {
        m_ui.SetItemText(m_hWnd, IDC_ADD_NAME, m_strAccountName);
        m_ui.SetItemText(m_hWnd, IDC_ADD_PASSWORD, m_strPassword);
        m_ui.SetItemText(m_hWnd, IDC_ADD_SERVER, m_strServer);
        m_ui.SetItemText(m_hWnd, IDC_ADD_USER, m_strUserName);
        m_ui.CheckItem(m_hWnd, IDC_ADD_SSL, m_bSSL != 0);
        m_ui.ListSetCurSel(m_hWnd, IDC_ADD_PROVIDER, m_nProvider);
        m_ui.ListSetCurSel(m_hWnd, IDC_ADD_TYPE, m_nAccountType);
    }
}

void ADD::UpdateHelpLink(const std::string& provider) {
    // The text first: setting the target fits the control to its text.
    const ProviderPreset* preset = FindProviderPreset(provider);
    m_ui.SetItemText(m_hWnd, IDC_ADD_HELP, preset != nullptr ? kHelpLinkText : "");
    m_link.SetTarget(preset != nullptr ? preset->helpPage : "");
}

void ADD::ShowMessage(const std::string& text) {
    m_ui.MessageBox(m_hWnd, text, m_strAppName, port::kMbOk);
}

void ADD::OnProviderChange() {
    UpdateData(true);
    const std::string provider = m_ui.GetItemText(m_hWnd, IDC_ADD_PROVIDER);
    const ProviderPreset* preset = FindProviderPreset(provider);
    m_strServer = preset != nullptr ? preset->server : "";
    m_bSSL = preset != nullptr ? 1 : 0;
    UpdateData(false);
    UpdateHelpLink(provider);
}

void ADD::OnAccountTypeChange() {
    if (m_ui.ListGetCurSel(m_hWnd, IDC_ADD_TYPE) == kTypeImap)
        ShowMessage(kImapWarningText);
}

void ADD::OnTestAccount() {
    UpdateData(true);
    m_ui.SetCursor(m_ui.LoadSystemCursor(port::SystemCursor::Wait));
    CAccount account;
    ApplyTo(account);
    const bool succeeded = TestAccountSettings(account, m_proxy);
    ShowMessage(AccountTestMessage(succeeded));
    m_ui.SetCursor(m_ui.LoadSystemCursor(port::SystemCursor::Arrow));
}

void ADD::OnOK() {
    UpdateData(true);
    CAccount account;
    ApplyTo(account);
    std::string problem = AccountFieldsProblem(account);
    // An account the store cannot give back unchanged is refused here,
    // while the user can still change it.
    if (problem.empty())
        problem = AccountStoreProblem(account);
    if (!problem.empty()) {
        ShowMessage(problem);
        return;
    }
    m_nAccountType = m_ui.ListGetCurSel(m_hWnd, IDC_ADD_TYPE);
    EndDialog(port::kIdOk);
}

bool ADD::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::intptr_t& result) {
    switch (message) {
    case port::kWmCommand: {
        const unsigned id = port::LowWord(wParam);
        const unsigned code = port::HighWord(wParam);
        if (id == IDC_ADD_PROVIDER && code == port::kSelChange) {
            OnProviderChange();
        } else if (id == IDC_ADD_TYPE && code == port::kSelChange) {
            OnAccountTypeChange();
        } else if (id == IDC_ADD_TEST && code == 0) {
            OnTestAccount();
        } else {
            return CLookDialog::WindowProc(message, wParam, lParam, result);
        }
        result = 0;
        return true;
    }
    default:
        return CLookDialog::WindowProc(message, wParam, lParam, result);
    }
}
