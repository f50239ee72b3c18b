// The static control class of the framework: a C++ object bound to a
// dialog's control (or any existing window) whose messages it sees first.
#pragma once

#include "platform/Wnd.h"

class CStatic : public CWnd {
public:
    explicit CStatic(port::Ui& ui) : CWnd(ui) {}
    // Lets the control go on without this object; the window itself belongs
    // to its dialog and is not destroyed here.
    ~CStatic() override;

    // Binds to control id of the dialog. False when there is no such
    // control.
    bool SubclassDlgItem(int id, port::WindowHandle dialog);
    bool SubclassWindow(port::WindowHandle window);
    // Lets the control go on without this object.
    void UnsubclassWindow();

protected:
    // Called once the object is bound to its window.
    virtual void PreSubclassWindow() {}
};
