// The application object and the main window made as start-up makes them
// (FormCreate included, window shown), and ended as the program ends them,
// after each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

#include "app/Startup.h"
#include "support/Dialogs.h"
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

    void SetUp() override { openWindow(); }
    void TearDown() override { closeWindow(); }

    // Fixtures whose ports differ per test call this from the test instead.
    void openWindow() {
        beforeWindow();
        application_ = std::make_unique<vcl::TApplication>(argc_, argv_);
        CreateMainWindow(*application_);
        ASSERT_NE(Form1, nullptr);
        form = Form1;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }

    // As when the program ends: a reception still running is ended first.
    void closeWindow() {
        stopModalWatches();
        EndReceptionOnExit();
        application_.reset();  // destroys Form1 as well
        form = nullptr;
        QApplication::processEvents();
    }

    vcl::TApplication& application() { return *application_; }

    // The status log, one entry a line.
    QStringList log() const {
        const QString text = form->Memo1->toPlainText();
        return text.isEmpty() ? QStringList{} : text.split(QLatin1Char('\n'));
    }

    // Selects entry `index` as the user would.
    static void choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    TForm1* form = nullptr;

private:
    int argc_ = 1;
    char arg0_[8] = "zuxtest";
    char* argv_[2] = {arg0_, nullptr};
    std::unique_ptr<vcl::TApplication> application_;
};

}  // namespace zuxtest
