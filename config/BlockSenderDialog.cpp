#include "config/BlockSenderDialog.h"

#include "controls/DialogLook.h"
#include "net/Text.h"
#include "res/resource.h"

#include <utility>

namespace {

// The English texts that replace the template's placeholders.
constexpr ControlText kControlTexts[] = {
    {IDC_SPAM_GROUP, "Block e-mail address or domain"},
    {IDC_SPAM_LABEL, "Email Address / Domain"},
    {IDC_SPAM_NOTE,
     "Enter a sender's email address or domain to add this to the list of blocked senders. "
     "NOTE! All e-mails from that address or domain will be deleted from the mail server and "
     "this action cannot be undone, so please be very careful."},
    {port::kIdCancel, "Cancel"},
};

} // namespace

Spam::Spam(port::Ui& ui, std::string appName, port::WindowHandle owner)
    : CLookDialog(ui, IDD_SPAM, owner), m_strAppName(std::move(appName)) {}

Spam::~Spam() = default;

bool Spam::OnInitDialog() {
    SetControlTexts(m_ui, m_hWnd, kControlTexts);
    m_ui.SetItemText(m_hWnd, IDC_SPAM_ADDRESS, m_strAddress);
    m_ui.SetWindowText(m_hWnd, m_strCaption);
    m_brush = m_ui.CreateSolidBrush(kDialogBackColour);
    return true;
}

void Spam::OnOK() {
    const std::string text = m_ui.GetItemText(m_hWnd, IDC_SPAM_ADDRESS);
    if (text.empty() || text::HasLineBreakOrNul(text)) {
        m_ui.MessageBox(m_hWnd, text.empty() ? kTypeBlockedSenderText : kOneLineBlockedSenderText,
                        m_strAppName, port::kMbOk);
        return;
    }
    m_strAddress = text;
    EndDialog(port::kIdOk);
}
