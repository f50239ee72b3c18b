// libFuzzer target: the stored account list ("User"/"Accounts") in any of
// its four layouts, on arbitrary bytes. The input is the stored text.
//
// Checked: the layout follows from the line-feed count alone and gives
// exactly one account per group of lines, the fields it lacks defaulted; no
// field holds a line feed; password scrambling is undone exactly; and the
// round trip: whatever SaveAccounts writes (through the settings file, as on
// Linux) loads back equal, or the save is refused with a reason and the
// stored list stays as it was. The input is also tried as a password.
#include "FuzzSupport.h"
#include "config/AccountStore.h"
#include "config/Settings.h"
#include "platform/headless/FileProfileStore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using tavlo::fuzz::Check;

const char kKeyPrefix[] = "HKEY_CURRENT_USER\\Software\\Tavlo\\tavlo";
const char kEarlierList[] = "Earlier\nu\n\nNORMAL\nhost\n0\nPOP3\n";

std::size_t LinesPerAccount(std::size_t lineFeeds) {
    for (const std::size_t lines : {7u, 6u, 5u, 4u})
        if (lineFeeds % lines == 0)
            return lines;
    return 0;
}

void CheckLoaded(const std::string& text, const std::vector<CAccount>& accounts) {
    const auto lineFeeds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    const std::size_t lines = lineFeeds == 0 ? 0 : LinesPerAccount(lineFeeds);
    Check(accounts.size() == (lines == 0 ? 0 : lineFeeds / lines));
    for (const CAccount& a : accounts) {
        for (const std::string* field : {&a.m_strAccountName, &a.m_strUserName, &a.m_strSecurity,
                                         &a.m_strServer, &a.m_strLastMessage, &a.m_strAccountType})
            Check(field->find('\n') == std::string::npos);
        if (lines < 7)
            Check(a.m_strAccountType.empty());
        if (lines < 6)
            Check(a.m_strLastMessage == "0");
        if (lines < 5)
            Check(a.m_strSecurity == "NORMAL");
    }
}

// Saves the list over an earlier one and reads it back.
void CheckRoundTrip(port::ProfileStore& store, const std::vector<CAccount>& accounts) {
    Check(store.WriteString(kSectionUser, kValueAccounts, kEarlierList));
    const bool storable = std::all_of(accounts.begin(), accounts.end(), [](const CAccount& a) {
        return AccountStoreProblem(a).empty();
    });
    const bool saved = SaveAccounts(store, accounts);
    Check(saved == storable);
    std::vector<CAccount> loaded;
    LoadAccounts(store, loaded);
    if (saved) {
        Check(loaded == accounts);
        std::vector<CAccount> again;
        AccountsFromText(AccountsToText(accounts), again);
        Check(again == accounts);
    } else {
        Check(store.GetString(kSectionUser, kValueAccounts) == kEarlierList);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const tavlo::fuzz::ScratchFolder folder;
    const std::string input(reinterpret_cast<const char*>(data), size);

    Check(UnscramblePassword(ScramblePassword(input)) == input);
    Check(ScramblePassword(UnscramblePassword(input)) == input);

    std::vector<CAccount> accounts;
    AccountsFromText(input, accounts);
    CheckLoaded(input, accounts);

    port::FileProfileStore store(
        folder.File(), kKeyPrefix, [](const std::string&) { tavlo::fuzz::Check(false); },
        tavlo::fuzz::WriteWholeFile);
    CheckRoundTrip(store, accounts);

    CAccount account;
    account.m_strAccountName = "Fuzz";
    account.m_strUserName = "user";
    account.m_strPassword = input;
    account.m_strSecurity = "SSL";
    account.m_strServer = "mail.example.com";
    account.m_strLastMessage = "0";
    account.m_strAccountType = "IMAP";
    CheckRoundTrip(store, {account});
    return 0;
}
