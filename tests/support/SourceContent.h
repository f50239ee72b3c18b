// The whole content of a data source, as the tests of the IMAP client
// family compare it.
#pragma once

#include <string>

class CUT_DataSource;

namespace tavlo::test {

// Opens the source for reading, reads it to its end and closes it. Every
// block Read hands out must be NUL-terminated (a test failure otherwise).
// "<no source>" when the source is missing or does not open.
std::string Content(CUT_DataSource& source);
std::string Content(CUT_DataSource* source);

} // namespace tavlo::test
