// The main of the test binaries that need a Qt application object; the
// library names the class (CMakeLists.txt). A window system, when there is
// one, is the offscreen one unless the run names another.
#define VARLO_QUOTE(x) #x
#define VARLO_HEADER(x) VARLO_QUOTE(x)
#include VARLO_HEADER(VARLO_TEST_APP)
#include <gtest/gtest.h>
#include <type_traits>

int main(int argc, char** argv)
{
    if (!std::is_same_v<VARLO_TEST_APP, QCoreApplication> && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    VARLO_TEST_APP app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
