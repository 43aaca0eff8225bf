// GoogleTest entry for Waylink tests. Listing tests (as ctest's discovery does) must not
// create an application object, which would abort without a display.
#include <gtest/gtest.h>

#ifdef WAYLINK_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
#ifdef WAYLINK_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
