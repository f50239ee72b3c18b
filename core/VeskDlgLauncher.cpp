// The mail program: the choice in the main window's list, how it is stored,
// and its start through the shell.
#include "config/Settings.h"
#include "core/VeskDlg.h"
#include "res/resource.h"

#include <cstdint>

namespace {

struct MailProgram {
    const char* entry;   // text of the list entry, stored as "MailClient"
    const char* program; // null: the custom path in "MyMailClient"
    const char* parameters;
};

// In list order.
constexpr MailProgram kMailPrograms[] = {
    {"Windows Live", "wlmail.exe", "/recycle"},
    {"Outlook", "OUTLOOK.EXE", "/recycle"},
    {"Outlook Express", "MSIMN.EXE", "/recycle"},
    {"Thunderbird", "thunderbird.exe", ""},
    {"Custom", nullptr, ""},
};

// Older versions stored the choice as a number.
const char* OldMailClientName(std::uint32_t number) {
    switch (number) {
    case 0:
        return "Outlook Express";
    case 2:
        return "Custom";
    default:
        return "Outlook";
    }
}

} // namespace

void CVeskDlg::FillMailClientList() {
    for (const MailProgram& mailProgram : kMailPrograms)
        m_ui.ListAddString(m_hWnd, IDC_MAILPROGRAM, mailProgram.entry);

    // The platform's prefix search from index 0: it begins at index 1 and
    // wraps round, so "Outlook" finds "Outlook" before "Outlook Express".
    // A number stored by an older version reads as its bytes up to the first
    // zero, so the number 0 reads as the empty text, which would match any
    // entry: it counts as not found and takes the numeric path below.
    const std::string text =
        m_app.GetProfileString(kSectionApp, kValueMailClient, kDefaultMailClient);
    m_nMailClient = text.empty() ? -1 : m_ui.ListFindPrefix(m_hWnd, IDC_MAILPROGRAM, 0, text);
    if (m_nMailClient < 0) {
        const std::string name =
            OldMailClientName(m_app.GetProfileInt(kSectionApp, kValueMailClient, 1));
        m_app.WriteProfileString(kSectionApp, kValueMailClient, name);
        m_nMailClient = m_ui.ListFindPrefix(m_hWnd, IDC_MAILPROGRAM, 0, name);
    }
}

void CVeskDlg::OnMailClientChange() {
    UpdateData(true);
    m_app.WriteProfileString(kSectionApp, kValueMailClient,
                             m_ui.ListGetText(m_hWnd, IDC_MAILPROGRAM, m_nMailClient));
}

void CVeskDlg::LaunchMailProgram() {
    const std::string text = m_ui.ListGetText(m_hWnd, IDC_MAILPROGRAM, m_nMailClient);
    for (const MailProgram& mailProgram : kMailPrograms) {
        if (text != mailProgram.entry)
            continue;
        const std::string program = mailProgram.program != nullptr
                                        ? std::string(mailProgram.program)
                                        : ReadMyMailClient(m_app.Profile());
        // An empty custom path names nothing to start.
        if (!program.empty())
            m_ui.ShellOpen(program, mailProgram.parameters, std::string());
        return;
    }
}
