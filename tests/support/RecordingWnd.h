// A window for tests that records every message it receives and lets the
// test answer chosen ones. It stands for the main window or any owner that a
// class under test talks to.
#pragma once

#include "platform/Ui.h"
#include "platform/Wnd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavlo::test {

struct ReceivedMessage {
    unsigned message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class RecordingWnd : public CWnd {
public:
    // Answers a message: true when handled, with its result.
    using Handler = std::function<bool(const ReceivedMessage&, std::intptr_t& result)>;

    explicit RecordingWnd(port::Ui& ui) : CWnd(ui) {}
    ~RecordingWnd() override;

    // Creates a hidden popup window with this title (and owner).
    port::WindowHandle Create(const std::string& title = "recorder",
                              port::WindowHandle owner = nullptr);

    void SetHandler(Handler handler) { m_handler = std::move(handler); }
    const std::vector<ReceivedMessage>& Messages() const { return m_messages; }
    // The received messages with this number.
    std::vector<ReceivedMessage> MessagesOf(unsigned message) const;
    void Clear() { m_messages.clear(); }

protected:
    bool WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                    std::intptr_t& result) override;

private:
    std::vector<ReceivedMessage> m_messages;
    Handler m_handler;
};

} // namespace tavlo::test
