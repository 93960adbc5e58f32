// One QGuiApplication for the whole test program, made before the first test.
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct QtApplication : ::testing::Environment {
    void SetUp() override {
        static int argc = 1;
        static char name[] = "VantorModelsTests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    std::unique_ptr<QGuiApplication> app;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

} // namespace
