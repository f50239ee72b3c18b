// What the main window's two sorted lists (accounts 1074, blocked senders
// 1075) share: the selected item and its occurrence number, and keeping the
// list box in step after an add, an edit or a delete.
#include "core/VeskDlg.h"

CVeskDlg::ListItemRef CVeskDlg::SelectedListItem(int listId) const {
    ListItemRef item;
    item.index = m_ui.ListGetCurSel(m_hWnd, listId);
    if (item.index < 0)
        return ListItemRef{};
    item.text = m_ui.ListGetText(m_hWnd, listId, item.index);
    for (int i = 0; i <= item.index; ++i) {
        if (m_ui.ListGetText(m_hWnd, listId, i) == item.text)
            ++item.occurrence;
    }
    return item;
}

void CVeskDlg::AddListItem(int listId, const std::string& text) {
    m_ui.ListAddString(m_hWnd, listId, text);
    m_ui.ListSetCurSel(m_hWnd, listId, m_ui.ListFindPrefix(m_hWnd, listId, -1, text));
}

void CVeskDlg::ReplaceListItem(int listId, int index, const std::string& text) {
    m_ui.ListDeleteString(m_hWnd, listId, index);
    m_ui.ListAddString(m_hWnd, listId, text);
    int last = -1;
    for (int i = 0; i < m_ui.ListGetCount(m_hWnd, listId); ++i) {
        if (m_ui.ListGetText(m_hWnd, listId, i) == text)
            last = i;
    }
    m_ui.ListSetCurSel(m_hWnd, listId, last);
}

bool CVeskDlg::DeleteListItem(int listId, int index) {
    m_ui.ListDeleteString(m_hWnd, listId, index);
    if (m_ui.ListGetCount(m_hWnd, listId) == 0) {
        m_ui.ListSetCurSel(m_hWnd, listId, -1);
        return false;
    }
    // The item above, or none when the first one went.
    m_ui.ListSetCurSel(m_hWnd, listId, index - 1);
    return true;
}
