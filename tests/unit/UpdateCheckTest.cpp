// The update check of the main window on the headless window system, with
// a scripted site: which document is asked for where, how long it may take,
// and which message box each answer gives for the manual and the automatic
// check.
#include "FakeHttpClient.h"
#include "core/VeskApp.h"
#include "core/VeskDlg.h"
#include "platform/headless/HeadlessUi.h"
#include "res/ResourceTable.h"
#include "res/resource.h"
#include "support/MemoryProfileStore.h"

#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using port::headless::EventKind;
using port::headless::HeadlessUi;
using tavlo::test::FakeHttpClient;
using tavlo::test::MemoryProfileStore;

const std::string kNewer =
    "There is a newer version of Tavlo.\nYou can download this new version (v";
const std::string kNewerTail = ") from our homepage";
const std::string kUpToDate = "Your version of Tavlo is up to date!";
const std::string kNoConnection = "The Client Could Not Connect to the Server";

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override { m_store.SetInt("App", "Autostart", 0); }

    CVeskDlg& Start() {
        m_dlg.emplace(m_app);
        m_dlg->SetHttpClient(m_site);
        m_hWnd = m_ui.OpenDialog(IDD_VESK_DIALOG, &*m_dlg, nullptr);
        return *m_dlg;
    }

    // The message boxes shown so far; each must belong to the main window
    // and carry the application's name.
    std::vector<std::string> Boxes() {
        std::vector<std::string> texts;
        for (const auto& box : m_ui.EventsOf(EventKind::MessageBox)) {
            EXPECT_EQ(box.window, m_hWnd);
            EXPECT_EQ(box.detail, "tavlo");
            EXPECT_EQ(box.value, static_cast<int>(port::kMbOk));
            texts.push_back(box.text);
        }
        return texts;
    }

    MemoryProfileStore m_store;
    HeadlessUi m_ui{tavlo::res::ProgramResources()};
    CVeskApp m_app{m_store, m_ui, "tavlo"};
    FakeHttpClient m_site;
    std::optional<CVeskDlg> m_dlg;
    port::WindowHandle m_hWnd = nullptr;
};

using Outcome = CVeskDlg::UpdateOutcome;

struct AnswerCase {
    const char* name;
    bool connected;
    int status;
    const char* line;
    Outcome outcome;
};

const AnswerCase kAnswers[] = {
    {"same version", true, 200, "1.8", Outcome::UpToDate},
    {"newer version", true, 200, "1.9", Outcome::Newer},
    {"own version and a blank", true, 200, "1.8 ", Outcome::Newer},
    {"letter case counts", true, 200, "V1.8", Outcome::Newer},
    {"older version is newer too", true, 200, "1.7", Outcome::Newer},
    {"empty document", true, 200, "", Outcome::Newer},
    {"no content", true, 204, "", Outcome::Newer},
    {"error status", false, 404, "", Outcome::NoConnection},
    {"server error", false, 500, "", Outcome::NoConnection},
    {"redirect", false, 301, "", Outcome::NoConnection},
    {"no server or time-out", false, 0, "", Outcome::NoConnection},
};

port::HttpFirstLine Answer(const AnswerCase& c) {
    port::HttpFirstLine answer;
    answer.connected = c.connected;
    answer.status = c.status;
    answer.line = c.line;
    return answer;
}

// The box the manual check shows; the automatic one shows the same except
// when the version is up to date.
std::string ManualBox(const AnswerCase& c) {
    switch (c.outcome) {
    case Outcome::UpToDate:
        return kUpToDate;
    case Outcome::Newer:
        return kNewer + c.line + kNewerTail;
    case Outcome::NoConnection:
        break;
    }
    return kNoConnection;
}

TEST_F(UpdateCheckTest, ManualCheckAsksTheManualDocumentAndTellsEveryOutcome) {
    CVeskDlg& dlg = Start();
    for (const AnswerCase& c : kAnswers) {
        SCOPED_TRACE(c.name);
        m_ui.ClearEvents();
        m_site.SetAnswer(Answer(c));
        EXPECT_EQ(dlg.OnCheckForUpdate(), c.outcome);
        EXPECT_EQ(Boxes(), std::vector<std::string>{ManualBox(c)});
        ASSERT_FALSE(m_site.Requests().empty());
        EXPECT_EQ(m_site.Requests().back().url, "http://www.tavlo.se/quendel/version");
        EXPECT_EQ(m_site.Requests().back().agent, "tavlo");
        EXPECT_EQ(m_site.Requests().back().timeoutMs, 5000u);
    }
    EXPECT_EQ(m_site.Requests().size(), std::size(kAnswers));
}

TEST_F(UpdateCheckTest, AutomaticCheckAsksTheEnglishDocumentAndIsSilentOnlyOnTheSameVersion) {
    CVeskDlg& dlg = Start();
    for (const AnswerCase& c : kAnswers) {
        SCOPED_TRACE(c.name);
        m_ui.ClearEvents();
        m_site.SetAnswer(Answer(c));
        dlg.AutoCheckForUpdate();
        const std::vector<std::string> expected = c.outcome == Outcome::UpToDate
                                                      ? std::vector<std::string>{}
                                                      : std::vector<std::string>{ManualBox(c)};
        EXPECT_EQ(Boxes(), expected);
        ASSERT_FALSE(m_site.Requests().empty());
        EXPECT_EQ(m_site.Requests().back().url, "http://www.tavlo.se/quendel/en/version");
        EXPECT_EQ(m_site.Requests().back().timeoutMs, 10000u);
    }
}

TEST_F(UpdateCheckTest, TimerSevenRunsTheAutomaticCheckOnceTenSecondsAfterOpening) {
    m_site.SetAnswer({true, 200, "2.0"});
    Start();
    m_ui.Advance(9999);
    EXPECT_TRUE(m_site.Requests().empty());
    m_ui.Advance(1);
    ASSERT_EQ(m_site.Requests().size(), 1u);
    EXPECT_EQ(m_site.Requests()[0].url, "http://www.tavlo.se/quendel/en/version");
    EXPECT_EQ(Boxes(), std::vector<std::string>{kNewer + "2.0" + kNewerTail});
    m_ui.Advance(60 * 60000);
    EXPECT_EQ(m_site.Requests().size(), 1u);
}

TEST_F(UpdateCheckTest, WithoutNetworkAtStartTheAutomaticCheckSaysSo) {
    m_site.SetAnswer({false, 0, ""});
    Start();
    m_ui.Advance(10000);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kNoConnection});
}

TEST_F(UpdateCheckTest, TimerSevenAsksNothingWhenTheSettingIsOff) {
    m_store.SetInt("App", "CheckForUpdates", 0);
    m_site.SetAnswer({true, 200, "2.0"});
    Start();
    m_ui.Advance(60000);
    EXPECT_TRUE(m_site.Requests().empty());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(UpdateCheckTest, TheMenuCommandRunsTheManualCheck) {
    m_site.SetAnswer({true, 200, "1.8"});
    Start();
    m_ui.PostMessage(m_hWnd, port::kWmCommand, ID_CHECK_UPDATE, 0);
    m_ui.RunPending();
    ASSERT_EQ(m_site.Requests().size(), 1u);
    EXPECT_EQ(m_site.Requests()[0].url, "http://www.tavlo.se/quendel/version");
    EXPECT_EQ(Boxes(), std::vector<std::string>{kUpToDate});
}

TEST_F(UpdateCheckTest, UpdateHostNamesTheServerAndABrokenOneReachesNobody) {
    struct HostCase {
        const char* stored; // nullptr: none stored
        const char* url;    // nullptr: nothing is asked
    };
    const HostCase cases[] = {
        {nullptr, "http://www.tavlo.se/quendel/version"},
        {"", "http://www.tavlo.se/quendel/version"},
        {"127.0.0.1:8080", "http://127.0.0.1:8080/quendel/version"},
        {"updates.example.org", "http://updates.example.org/quendel/version"},
        {"updates.example.org:80", "http://updates.example.org/quendel/version"},
        {"evil.example/x?", nullptr},
        {"user@host", nullptr},
        {"host:0", nullptr},
        {"host:65536", nullptr},
        {":8080", nullptr},
    };
    m_site.SetAnswer({true, 200, "1.8"});
    CVeskDlg& dlg = Start();
    for (const HostCase& c : cases) {
        SCOPED_TRACE(c.stored == nullptr ? "(none)" : c.stored);
        if (c.stored != nullptr)
            m_store.SetString("App", "UpdateHost", c.stored);
        const std::size_t before = m_site.Requests().size();
        m_ui.ClearEvents();
        const Outcome outcome = dlg.OnCheckForUpdate();
        if (c.url == nullptr) {
            EXPECT_EQ(m_site.Requests().size(), before);
            EXPECT_EQ(outcome, Outcome::NoConnection);
            EXPECT_EQ(Boxes(), std::vector<std::string>{kNoConnection});
        } else {
            ASSERT_EQ(m_site.Requests().size(), before + 1);
            EXPECT_EQ(m_site.Requests().back().url, c.url);
            EXPECT_EQ(outcome, Outcome::UpToDate);
        }
    }
}

} // namespace
