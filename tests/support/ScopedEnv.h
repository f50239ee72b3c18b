// Short name for the scoped environment variable of TestEnv.h.
#pragma once

#include "support/TestEnv.h"

namespace tavlo::test {

using ScopedEnv = ScopedEnvironmentVariable;

} // namespace tavlo::test
