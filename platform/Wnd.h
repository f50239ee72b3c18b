// The window and dialog base classes over the window-system port: a C++
// object per window that receives its messages, as the program's classes
// (the tray icon, the popup, the main window) expect of their framework.
#pragma once

#include "platform/Ui.h"

#include <cstdint>

class CWnd : public port::MessageTarget {
public:
    explicit CWnd(port::Ui& ui) : m_ui(ui) {}
    // Destroys the window if it still exists.
    virtual ~CWnd();

    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    port::WindowHandle GetSafeHwnd() const { return m_hWnd; }
    port::Ui& GetUi() const { return m_ui; }

    void DestroyWindow();

    // port::MessageTarget: learns the handle from the first message, forgets
    // it after kWmDestroy, and hands everything to WindowProc.
    bool OnMessage(port::WindowHandle window, unsigned message, std::uintptr_t wParam,
                   std::intptr_t lParam, std::intptr_t& result) final;

protected:
    // false: not handled, the default path runs.
    virtual bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                            std::intptr_t& result);
    // Called last, once the window is gone (after kWmDestroy and the
    // object's own bookkeeping): a window object that owns itself may
    // delete itself here; nothing touches it afterwards.
    virtual void PostNcDestroy() {}

    port::Ui& m_ui;
    port::WindowHandle m_hWnd = nullptr;

private:
    bool m_bWindowGone = false; // kWmDestroy was seen
};

// A dialog from a template of the program's resources, run modally.
class CDialog : public CWnd {
public:
    CDialog(port::Ui& ui, int templateId, port::WindowHandle owner = nullptr)
        : CWnd(ui), m_nTemplateId(templateId), m_hOwner(owner) {}

    // Runs the dialog; the value given to EndDialog.
    virtual int DoModal();
    void EndDialog(int result);

protected:
    // kIdOk and kIdCancel take these paths unless WindowProc handles them.
    virtual void OnOK() { EndDialog(port::kIdOk); }
    virtual void OnCancel() { EndDialog(port::kIdCancel); }
    virtual bool OnInitDialog() { return true; }

    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

    int m_nTemplateId;
    port::WindowHandle m_hOwner;
};
