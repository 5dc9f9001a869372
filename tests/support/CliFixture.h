#pragma once
// The set-up the command-line program's tests share: a folder of their own, and the
// program run there.

#include <gtest/gtest.h>

#include <string>

#include "support/AviFixture.h"
#include "support/Shell.h"

namespace qvtest {

#ifdef QV_CLI_PATH
class CliTest : public ::testing::Test {
  protected:
    // The program run with args (quoted by the caller), its output kept in dir_.
    CliResult Run(const std::string& args) { return RunCli(dir_, args); }

    TempDir dir_;
};
#endif  // QV_CLI_PATH

}  // namespace qvtest
