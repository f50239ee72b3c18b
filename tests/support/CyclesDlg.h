// The main window with the clock times of its check cycles, for tests that
// see when checks run (timers armed, restarted or cancelled).
#pragma once

#include "core/VeskDlg.h"
#include "platform/headless/HeadlessUi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavlo::test {

class CyclesDlg : public CVeskDlg {
public:
    CyclesDlg(CVeskApp& app, port::headless::HeadlessUi& ui) : CVeskDlg(app), m_headless(ui) {}
    std::vector<std::uint64_t> cycles;

protected:
    void AnnounceMail(bool manual, bool anyMail, const std::string& report) override {
        cycles.push_back(m_headless.Now());
        CVeskDlg::AnnounceMail(manual, anyMail, report);
    }

private:
    port::headless::HeadlessUi& m_headless;
};

} // namespace tavlo::test
