// One QApplication for the window tests, without a display.
#include <QApplication>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace {

class CWindowTestApp : public testing::Environment {
public:
    void SetUp() override {
        // ctest sets these; a binary run by hand gets the same.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "console_window_tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

const testing::Environment* const g_app = testing::AddGlobalTestEnvironment(new CWindowTestApp);

}  // namespace
