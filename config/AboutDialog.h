// The About box CAboutDlg (template 100): the product name and version,
// links to the maker's home page and support address, and a small
// animation. It fades out when it closes.
#pragma once

#include "controls/DialogLook.h"
#include "controls/HyperLink.h"
#include "controls/PictureEx.h"

#include <cstdint>

inline constexpr const char* kAboutCaption = "About Tavlo";
// The maker's support address, on the host of its web site.
inline constexpr const char* kSupportAddress = "support@tavlo.se";

class CAboutDlg : public CLookDialog {
public:
    explicit CAboutDlg(port::Ui& ui, port::WindowHandle owner = nullptr);
    ~CAboutDlg() override;

    CHyperLink m_linkHomepage{m_ui}; // static 1027
    CHyperLink m_linkEmail{m_ui};    // static 1097
    CPictureEx m_picture{m_ui};      // static 1130, GIF 291

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    // A fading copy stays on the screen while the box itself goes.
    void FadeAndEnd(int result);
};
