// No test of this program reaches the network for the update check: every
// main window a test opens asks a site that names the program's own version
// as current, so the automatic check 10 s after start-up stays silent and
// leaves the message boxes and the clock of the tests that do not look at it
// as they were. The update check's own tests give their windows their own
// client; the real clients are tested against loopback servers.
#include "FakeHttpClient.h"
#include "core/VeskDlg.h"

#include <gtest/gtest.h>

namespace {

class OfflineUpdateSite : public ::testing::Environment {
public:
    void SetUp() override { port::SetDefaultHttpClient(&m_site); }
    void TearDown() override { port::SetDefaultHttpClient(nullptr); }

private:
    tavlo::test::FakeHttpClient m_site{{true, 200, CVeskDlg::kVersion}};
};

[[maybe_unused]] ::testing::Environment* const kOfflineUpdateSite =
    ::testing::AddGlobalTestEnvironment(new OfflineUpdateSite);

} // namespace
