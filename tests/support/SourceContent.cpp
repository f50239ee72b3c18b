#include "support/SourceContent.h"

#include "net/imap/UT_DataSource.h"

#include <gtest/gtest.h>

namespace tavlo::test {

std::string Content(CUT_DataSource& source) {
    if (source.Open(CUT_DataSource::kOpenRead) != 0)
        return "<no source>";
    std::string text;
    char block[4096];
    for (int n; (n = source.Read(block, sizeof block)) > 0;) {
        EXPECT_EQ(block[n], '\0') << "Read must terminate its bytes";
        text.append(block, static_cast<std::size_t>(n));
    }
    source.Close();
    return text;
}

std::string Content(CUT_DataSource* source) {
    return source != nullptr ? Content(*source) : "<no source>";
}

} // namespace tavlo::test
