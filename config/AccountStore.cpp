#include "config/AccountStore.h"

#include "config/Occurrence.h"
#include "config/Settings.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace {

constexpr char kLineFeed = '\n';
constexpr char kZero = '\0';
// The bytes a stored line cannot carry: a line feed ends the line, and the
// settings store cannot hold a zero byte.
const std::string kUnstorableBytes("\n\0", 2);

// Where each line of a stored account goes, per layout.
enum class Line { Name, User, Password, Security, Server, LastMessage, Type };

constexpr Line kLayout7[] = {Line::Name,   Line::User,        Line::Password, Line::Security,
                             Line::Server, Line::LastMessage, Line::Type};
constexpr Line kLayout6[] = {Line::Name,     Line::User,   Line::Password,
                             Line::Security, Line::Server, Line::LastMessage};
constexpr Line kLayout5[] = {Line::Name, Line::User, Line::Password, Line::Security, Line::Server};
constexpr Line kLayout4[] = {Line::Name, Line::User, Line::Password, Line::Server};

struct Layout {
    const Line* lines;
    std::size_t count;
};

constexpr Layout kLayouts[] = {{kLayout7, 7}, {kLayout6, 6}, {kLayout5, 5}, {kLayout4, 4}};

// Defaults of the fields that a layout does not store.
CAccount MakeDefaultedAccount(std::size_t linesPerAccount) {
    CAccount account;
    if (linesPerAccount < 6)
        account.m_strLastMessage = "0";
    if (linesPerAccount < 5)
        account.m_strSecurity = "NORMAL";
    return account;
}

void Assign(CAccount& account, Line line, std::string& value) {
    switch (line) {
    case Line::Name:
        account.m_strAccountName = std::move(value);
        break;
    case Line::User:
        account.m_strUserName = std::move(value);
        break;
    case Line::Password:
        account.m_strPassword = UnscramblePassword(value);
        break;
    case Line::Security:
        account.m_strSecurity = std::move(value);
        break;
    case Line::Server:
        account.m_strServer = std::move(value);
        break;
    case Line::LastMessage:
        account.m_strLastMessage = std::move(value);
        break;
    case Line::Type:
        account.m_strAccountType = std::move(value);
        break;
    }
    value.clear();
}

std::string FieldProblem(const std::string& value, const char* fieldLabel) {
    if (value.find(kLineFeed) != std::string::npos)
        return std::string("The ") + fieldLabel + " cannot be stored: it contains a line break.";
    if (value.find(kZero) != std::string::npos)
        return std::string("The ") + fieldLabel +
               " cannot be stored: it contains a null character.";
    return std::string();
}

} // namespace

std::string ScramblePassword(const std::string& password) {
    const std::size_t n = password.size();
    std::string stored(n, kZero);
    for (std::size_t i = 0; i < n; ++i) {
        const auto p = static_cast<unsigned char>(password[n - 1 - i]);
        stored[i] = static_cast<char>(static_cast<unsigned char>(p - i - 5));
    }
    return stored;
}

std::string UnscramblePassword(const std::string& stored) {
    const std::size_t n = stored.size();
    std::string password(n, kZero);
    for (std::size_t j = 0; j < n; ++j) {
        const auto s = static_cast<unsigned char>(stored[n - 1 - j]);
        password[j] = static_cast<char>(static_cast<unsigned char>(s + n + 4 - j));
    }
    return password;
}

std::string AccountsToText(const std::vector<CAccount>& accounts) {
    std::string text;
    for (const CAccount& a : accounts) {
        for (const std::string* field :
             {&a.m_strAccountName, &a.m_strUserName, &a.m_strPassword, &a.m_strSecurity,
              &a.m_strServer, &a.m_strLastMessage, &a.m_strAccountType}) {
            text += field == &a.m_strPassword ? ScramblePassword(*field) : *field;
            text += kLineFeed;
        }
    }
    return text;
}

void AccountsFromText(const std::string& text, std::vector<CAccount>& accounts) {
    const auto lineFeeds =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), kLineFeed));
    if (lineFeeds == 0)
        return;
    const auto layout = std::find_if(std::begin(kLayouts), std::end(kLayouts),
                                     [&](const Layout& l) { return lineFeeds % l.count == 0; });
    if (layout == std::end(kLayouts))
        return;

    CAccount account = MakeDefaultedAccount(layout->count);
    std::string buffer;
    std::size_t line = 0;
    for (char c : text) {
        if (c != kLineFeed) {
            buffer += c;
            continue;
        }
        Assign(account, layout->lines[line], buffer);
        if (++line == layout->count) {
            accounts.push_back(account);
            account = MakeDefaultedAccount(layout->count);
            line = 0;
        }
    }
    // Bytes after the last line feed, and an incomplete last account, are dropped.
}

std::string AccountStoreProblem(const CAccount& account) {
    const std::pair<const std::string*, const char*> fields[] = {
        {&account.m_strAccountName, "account name"},
        {&account.m_strUserName, "user name"},
        {&account.m_strSecurity, "security setting"},
        {&account.m_strServer, "server name"},
        {&account.m_strLastMessage, "newest-message marker"},
        {&account.m_strAccountType, "account type"},
    };
    for (const auto& [value, label] : fields) {
        std::string problem = FieldProblem(*value, label);
        if (!problem.empty())
            return problem;
    }

    // A password byte whose scrambled value is a line feed or zero cannot
    // be stored; name it by its position counted from the start.
    const std::string scrambled = ScramblePassword(account.m_strPassword);
    // The last stored byte comes from the first password character.
    const std::size_t i = scrambled.find_last_of(kUnstorableBytes);
    if (i != std::string::npos) {
        const std::size_t position = scrambled.size() - i; // 1-based from the start
        return "The password cannot be stored: character " + std::to_string(position) +
               " cannot be saved at that position in the password. Please choose a different "
               "password.";
    }
    return std::string();
}

void LoadAccounts(port::ProfileStore& store, std::vector<CAccount>& accounts) {
    AccountsFromText(store.GetString(kSectionUser, kValueAccounts, std::string()), accounts);
}

bool SaveAccounts(port::ProfileStore& store, const std::vector<CAccount>& accounts) {
    for (const CAccount& account : accounts) {
        if (!AccountStoreProblem(account).empty())
            return false;
    }
    return store.WriteString(kSectionUser, kValueAccounts, AccountsToText(accounts));
}

CAccount* FindAccount(std::vector<CAccount>& accounts, const std::string& name, int n) {
    return FindNthRecord(accounts, &CAccount::m_strAccountName, name, n);
}

bool RemoveAccount(std::vector<CAccount>& accounts, const std::string& name, int n) {
    return RemoveNthRecord(accounts, &CAccount::m_strAccountName, name, n);
}
