// Port: the program's resources as plain data, for a window system that has
// no resource compiler (the headless one). The program's side fills it from
// its resource script at build time (res/ResourceTable.h) and hands it over
// when it creates the window system; the port itself knows no resource id.
//
// Texts are 8-bit, in the code page of the resource script.
#pragma once

#include "platform/Ui.h" // Rect, Size

#include <cstdint>
#include <string>
#include <vector>

namespace port {

// One control of a dialog template.
struct ControlResource {
    std::string statement;   // as written: "LTEXT", "PUSHBUTTON", "LISTBOX", "CONTROL", ...
    std::string className;   // the window class: "Static", "Button", "Edit", "ListBox", ...
    int id = 0;              // -1 for the unnamed ones (IDC_STATIC)
    std::string text;        // the template's text ("" for none)
    int textResource = 0;    // an image resource given instead of a text, else 0
    std::uint32_t style = 0; // every style bit the control is created with
    std::uint32_t exStyle = 0;
    Rect units;  // dialog units
    Rect pixels; // pixels in the template's font, relative to the client area
};

// One record of a dialog's initial data: an item for a combo box or a list
// box of the template, added when the dialog is created, before it hears of
// its initialisation.
struct DialogInitResource {
    static constexpr unsigned kListAddString = 0x0401; // as the resource toolchain numbers them
    static constexpr unsigned kComboAddString = 0x0403;
    int control = 0;
    unsigned message = 0; // kComboAddString or kListAddString
    std::string text;
};

// A dialog template.
struct DialogResource {
    int id = 0;
    std::string caption;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::string fontFace; // "" for the system font
    int fontPoints = 0;
    Size baseUnits; // the font's dialog base units in pixels (per 4 x 8 dialog units)
    Rect units;     // position and size in dialog units
    Size pixels;    // size of the client area in pixels
    std::vector<ControlResource> controls;
    std::vector<DialogInitResource> initData; // in resource order

    // The first control with this id, as the window system finds it; null
    // when there is none.
    const ControlResource* FindControl(int controlId) const {
        for (const ControlResource& control : controls) {
            if (control.id == controlId)
                return &control;
        }
        return nullptr;
    }
};

struct MenuItemResource {
    unsigned command = 0; // 0: a separator
    std::string text;
};

// One popup of a menu: its title on the menu bar and its items.
struct MenuPopupResource {
    std::string text;
    std::vector<MenuItemResource> items;
};

struct MenuResource {
    int id = 0;
    std::vector<MenuPopupResource> popups;
};

struct StringResource {
    int id = 0;
    std::string text;
};

struct BitmapResource {
    int id = 0;
    Size size;
};

// A resource of a custom type ("GIF"): its bytes.
struct DataResource {
    int id = 0;
    std::string type;
    std::string bytes;
};

struct ResourceTable {
    std::vector<DialogResource> dialogs;
    std::vector<MenuResource> menus;
    std::vector<StringResource> strings;
    std::vector<int> icons;
    std::vector<BitmapResource> bitmaps;
    std::vector<DataResource> data;

    const DialogResource* FindDialog(int id) const { return FindById(dialogs, id); }
    const MenuResource* FindMenu(int id) const { return FindById(menus, id); }
    const StringResource* FindString(int id) const { return FindById(strings, id); }
    const BitmapResource* FindBitmap(int id) const { return FindById(bitmaps, id); }
    const DataResource* FindData(int id, const std::string& type) const {
        for (const DataResource& item : data) {
            if (item.id == id && item.type == type)
                return &item;
        }
        return nullptr;
    }
    bool HasIcon(int id) const {
        for (int icon : icons) {
            if (icon == id)
                return true;
        }
        return false;
    }

private:
    template <class T> static const T* FindById(const std::vector<T>& items, int id) {
        for (const T& item : items) {
            if (item.id == id)
                return &item;
        }
        return nullptr;
    }
};

} // namespace port
