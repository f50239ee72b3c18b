#include "support/RecordingWnd.h"

namespace tavlo::test {

RecordingWnd::~RecordingWnd() {
    DestroyWindow();
}

port::WindowHandle RecordingWnd::Create(const std::string& title, port::WindowHandle owner) {
    port::WindowSpec spec;
    spec.className = "TestRecorder";
    spec.title = title;
    spec.rect = port::Rect{0, 0, 100, 50};
    spec.owner = owner;
    const port::WindowHandle window = m_ui.CreatePopupWindow(spec, this);
    if (m_hWnd == nullptr)
        m_hWnd = window;
    return window;
}

std::vector<ReceivedMessage> RecordingWnd::MessagesOf(unsigned message) const {
    std::vector<ReceivedMessage> out;
    for (const ReceivedMessage& m : m_messages) {
        if (m.message == message)
            out.push_back(m);
    }
    return out;
}

bool RecordingWnd::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                              std::intptr_t& result) {
    const ReceivedMessage received{message, wParam, lParam};
    m_messages.push_back(received);
    return m_handler ? m_handler(received, result) : false;
}

} // namespace tavlo::test
