// The account dialog ADD (template 233): one account's name, user name,
// password, server, type and connection security, with provider presets,
// a help link and a test of the entered settings against the server. The
// dialog never touches the account list or the store; the caller fills its
// members before the run and reads them after OK.
//
// The deciding parts (presets, the checks of OK, the test) are free
// functions, so that the Linux front end runs the very same code.
#pragma once

#include "config/Account.h"
#include "controls/DialogLook.h"
#include "controls/HyperLink.h"
#include "net/proxy/ProxyTunnel.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// A large provider whose settings the dialog can fill in: its POP3 server
// (over TLS) and the help page about reaching its mail over POP.
struct ProviderPreset {
    const char* name;
    const char* server;
    const char* helpPage;
};

// The presets, in the order the provider box is filled; "Custom" is none.
std::span<const ProviderPreset> ProviderPresets();
// The preset of a provider box text; null for "Custom" and anything else.
const ProviderPreset* FindProviderPreset(const std::string& name);
inline constexpr const char* kCustomProvider = "Custom";

// The messages of OK's checks, in their order.
inline constexpr const char* kTypeAccountNameText =
    "Type a descriptive name for the account, for example, Work or Dave(ISP)";
inline constexpr const char* kTypeUserNameText = "Type User Name";
inline constexpr const char* kTypePasswordText = "Type Password";
inline constexpr const char* kTypeServerText = "Type your Incoming Mail Server";

// The first of OK's four checks that fails (name, user name, password,
// server empty), as its message; "" when all four are given.
std::string AccountFieldsProblem(const CAccount& account);

// The warning shown when IMAP is chosen.
inline constexpr const char* kImapWarningText =
    "Blocked senders / domains does not work with IMAP in this version of Tavlo";

// The test of an account's settings: POP3 (USER/PASS, then QUIT) or IMAP
// (LOGIN, then LOGOUT) as the account's type says, over TLS when it asks
// for it, on the standard port or the one its server text names
// (HOST:PORT). True when the server accepted the login. A user name,
// password or server text holding CR, LF or NUL fails before anything is
// sent.
bool TestAccountSettings(const CAccount& account, const ProxyServer& proxy = {});
// What the dialog shows after the test.
const char* AccountTestMessage(bool succeeded);

class ADD : public CLookDialog {
public:
    // Account types, as indexes of the account-type box.
    static constexpr int kTypePop3 = 0;
    static constexpr int kTypeImap = 1;

    // appName is the caption of the dialog's message boxes.
    ADD(port::Ui& ui, std::string appName, port::WindowHandle owner = nullptr);
    ~ADD() override;

    // Fills the fields from an account (Edit).
    void LoadFrom(const CAccount& account);
    // Writes name, user name, password, server, type and security into an
    // account; the newest-message marker stays as it is.
    void ApplyTo(CAccount& account) const;

    // Where the help link leads now ("" when it shows nothing).
    const std::string& HelpLinkTarget() const { return m_link.GetTarget(); }

    std::string m_strCaption;
    std::string m_strAccountName;
    std::string m_strPassword;
    std::string m_strServer;
    std::string m_strUserName;
    int m_bSSL = 0;
    int m_nProvider = 0;
    CHyperLink m_link;
    int m_nAccountType = kTypePop3;
    // The proxy the Test button connects through (the "Proxy" setting).
    ProxyServer m_proxy;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    void OnProviderChange();
    void OnAccountTypeChange();
    void OnTestAccount();
    // true: controls into members; false: members into controls.
    void UpdateData(bool saveAndValidate);
    // The help link of static 1137 for a provider box text: the provider's
    // help page and "Help", or nothing.
    void UpdateHelpLink(const std::string& provider);
    void ShowMessage(const std::string& text);

    std::string m_strAppName;
};
