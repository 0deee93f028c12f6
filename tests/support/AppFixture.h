// The application object and the main window made as start-up makes them
// (FormCreate included, window shown), and ended as the program ends them,
// after each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "app/Startup.h"
#include "support/QtPrinters.h"
#include "app/Unit1.h"
#include "receive/Reception.h"
#include "vcl/Application.h"

namespace zuxtest {

class AppFixture : public ::testing::Test {
protected:
    // Runs before the window is created: install simulated MIDI ports here,
    // since FormCreate fills the port lists from them.
    virtual void beforeWindow() {}

    void SetUp() override {
        beforeWindow();
        application_ = std::make_unique<vcl::TApplication>(argc_, argv_);
        CreateMainWindow(*application_);
        ASSERT_NE(Form1, nullptr);
        Form1->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    }

    // As when the program ends: a reception still running is ended first.
    void TearDown() override {
        EndReceptionOnExit();
        application_.reset();  // destroys Form1 as well
        QApplication::processEvents();
    }

    vcl::TApplication& application() { return *application_; }

private:
    int argc_ = 1;
    char arg0_[8] = "zuxtest";
    char* argv_[2] = {arg0_, nullptr};
    std::unique_ptr<vcl::TApplication> application_;
};

}  // namespace zuxtest
