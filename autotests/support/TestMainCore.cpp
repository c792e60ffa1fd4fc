// The test main of the suites that need no widgets: a QCoreApplication only.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
