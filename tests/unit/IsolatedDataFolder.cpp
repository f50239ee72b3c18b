// Every test of this program runs with a data folder of its own (Linux:
// TAVLO_HOME), so that no test reads or writes the data of the user who
// runs them (Blocklist.txt among it). On Windows the data folder is the
// test program's own folder.
#include "support/TempDir.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

class IsolatedDataFolder : public ::testing::Environment {
public:
    void SetUp() override {
        m_folder = std::make_unique<tavlo::test::TempDir>();
        m_home = std::make_unique<tavlo::test::ScopedEnvironmentVariable>("TAVLO_HOME",
                                                                          m_folder->path());
    }
    void TearDown() override {
        m_home.reset();
        m_folder.reset();
    }

private:
    std::unique_ptr<tavlo::test::TempDir> m_folder;
    std::unique_ptr<tavlo::test::ScopedEnvironmentVariable> m_home;
};

[[maybe_unused]] ::testing::Environment* const kIsolatedDataFolder =
    ::testing::AddGlobalTestEnvironment(new IsolatedDataFolder);

} // namespace
