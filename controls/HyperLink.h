// CHyperLink: a static text control that behaves like a web link. It shows
// its text in link colours, underlines it under the mouse, shows its target
// in a tooltip and with a hand cursor, and opens the target through the
// shell when clicked, falling back on the browser registered for ".htm".
#pragma once

#include "controls/Static.h"
#include "platform/Ui.h"

#include <memory>
#include <string>

class CHyperLink : public CStatic {
public:
    explicit CHyperLink(port::Ui& ui) : CStatic(ui) {}
    ~CHyperLink() override;

    void SetTarget(const std::string& target);
    const std::string& GetTarget() const { return m_strTarget; }
    void SetLinkColours(port::Colour normal, port::Colour visited, port::Colour hover);
    // -1: underlined while hovered; 0: never; 1: always.
    void SetUnderlineMode(int mode);
    void EnableAutoFit();
    void SetVisitedState();

    // The colour the text is drawn in now, and whether it is underlined.
    port::Colour CurrentColour() const;
    bool IsUnderlined() const { return m_currentFont == m_fontUnderlined.get(); }
    bool IsHovering() const { return m_bHovering != 0; }
    bool IsVisited() const { return m_bVisitedState != 0; }

    // The explanation of a failed open (the message box text).
    static std::string OpenErrorText(int code);

protected:
    void PreSubclassWindow() override;
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    void FitToText();
    void SelectFont(const port::Font* font);
    void OnClicked();
    int OpenTarget(const std::string& target);
    void ShowOpenError(int code);
    void OnMouseMove();
    void OnHoverTimer();
    void Paint();

    port::Colour m_colourNormal = port::Rgb(0, 0, 238);
    port::Colour m_colourVisited = port::Rgb(85, 26, 139);
    port::Colour m_colourHover = port::Rgb(255, 0, 0);
    int m_bHovering = 0;
    int m_bVisitedState = 0;
    int m_underlineMode = -1;
    int m_bAutoFit = 1;
    std::string m_strTarget;
    std::unique_ptr<port::Font> m_fontUnderlined;
    std::unique_ptr<port::Font> m_fontPlain;
    const port::Font* m_currentFont = nullptr; // the one the text is drawn in
    port::CursorHandle m_hHandCursor = nullptr;
    std::unique_ptr<port::Ui::Tooltip> m_tooltip;
    unsigned m_timerId = 100;
};
