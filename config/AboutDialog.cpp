#include "config/AboutDialog.h"

#include "controls/FaderWnd.h"
#include "core/WebSite.h"
#include "res/resource.h"

#include <string>

namespace {

// Black, always underlined, and no other colour under the mouse.
constexpr port::Colour kLinkColour = port::Rgb(0, 0, 0);
constexpr int kAlwaysUnderlined = 1;

void SetUpLink(port::Ui& ui, port::WindowHandle dialog, CHyperLink& link, int id,
               const std::string& text, const std::string& target) {
    link.SubclassDlgItem(id, dialog);
    // The text first: setting the target fits the control to its text.
    ui.SetItemText(dialog, id, text);
    link.SetTarget(target);
    link.EnableAutoFit();
    link.SetLinkColours(kLinkColour, kLinkColour, kLinkColour);
    link.SetUnderlineMode(kAlwaysUnderlined);
}

} // namespace

CAboutDlg::CAboutDlg(port::Ui& ui, port::WindowHandle owner)
    : CLookDialog(ui, IDD_ABOUTBOX, owner) {}

CAboutDlg::~CAboutDlg() = default;

bool CAboutDlg::OnInitDialog() {
    m_ui.SetWindowText(m_hWnd, kAboutCaption);
    SetUpLink(m_ui, m_hWnd, m_linkEmail, IDC_ABOUT_EMAIL, std::string("E-mail: ") + kSupportAddress,
              std::string("mailto:") + kSupportAddress);
    SetUpLink(m_ui, m_hWnd, m_linkHomepage, IDC_ABOUT_HOMEPAGE,
              std::string("Homepage: ") + kProductPageUrl, kProductPageUrl);
    m_brush = m_ui.CreateSolidBrush(kDialogBackColour);
    // Without the control or the picture the box goes on as it is.
    if (m_picture.SubclassDlgItem(IDC_ABOUT_PICTURE, m_hWnd) && m_picture.LoadPicture(IDR_MAIN_GIF))
        m_picture.ShowPicture();
    return true;
}

void CAboutDlg::FadeAndEnd(int result) {
    CFaderWnd::FadeOut(*this);
    EndDialog(result);
}

void CAboutDlg::OnOK() {
    FadeAndEnd(port::kIdOk);
}

// The close box (and Escape) arrive as Cancel.
void CAboutDlg::OnCancel() {
    FadeAndEnd(port::kIdCancel);
}

bool CAboutDlg::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                           std::intptr_t& result) {
    if (message == port::kWmDestroy) {
        // Stopped before its window goes, as the picture draws into it.
        m_picture.StopAnimation();
    }
    return CLookDialog::WindowProc(message, wParam, lParam, result);
}
