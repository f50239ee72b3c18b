// One watched mailbox: seven 8-bit texts (system code page), all empty after
// construction. Stored by config/AccountStore.h.
#pragma once

#include <string>

class CAccount {
public:
    CAccount() = default;
    CAccount(const CAccount&) = default;
    CAccount& operator=(const CAccount&) = default;
    CAccount(CAccount&&) = default;
    CAccount& operator=(CAccount&&) = default;
    virtual ~CAccount() = default;

    bool operator==(const CAccount&) const = default;

    std::string m_strAccountName; // shown in the account list; need not be unique
    std::string m_strUserName;    // login name
    std::string m_strPassword;    // plain text in memory, scrambled when stored
    std::string m_strServer;      // host name of the incoming mail server
    std::string m_strSecurity;    // "SSL" (TLS from the first byte) or "NORMAL"
    std::string m_strLastMessage; // newest-message marker; "0" for a new account
    std::string m_strAccountType; // "POP3" or "IMAP"; empty from older stores
};

// An account is IMAP exactly when its type is "IMAP"; anything else, the
// empty text included, is POP3.
inline bool IsImap(const CAccount& account) {
    return account.m_strAccountType == "IMAP";
}

// TLS is used exactly when the security is "SSL".
inline bool UsesTls(const CAccount& account) {
    return account.m_strSecurity == "SSL";
}
