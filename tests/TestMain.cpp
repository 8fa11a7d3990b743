// Test entry point: one QApplication for the whole executable (widgets render
// offscreen under ctest), then GoogleTest.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Kelvane Electronics");
    QCoreApplication::setOrganizationDomain("local");
    QCoreApplication::setApplicationName("Ravel-Viewer-Tests");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
