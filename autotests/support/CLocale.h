#pragma once

#include <QLocale>

#include <gtest/gtest.h>

namespace quillon::testing {

// For suites whose expected texts spell numbers with a point: runs them under the C
// locale whatever LC_ALL/LANG say (tools/locale-run.sh runs the suite in German).
// Cases that want another locale set it themselves and put the previous one back.
// Register once per executable at namespace scope:
//     const auto *const cLocale = ::testing::AddGlobalTestEnvironment(new quillon::testing::CLocale);
class CLocale final : public ::testing::Environment {
public:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
};

} // namespace quillon::testing
