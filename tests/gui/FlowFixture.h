// The window on simulated MIDI ports, for the tests of the two workflows and
// the port lists: the ports chosen per test, scripted file dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "midi/transports/SimulatedTransport.h"
#include "midi/TransferState.h"
#include "receive/Reception.h"
#include "support/AppFixture.h"
#include "support/Bytes.h"
#include "support/BlockAllocations.h"
#include "support/Dialogs.h"
#include "support/QtPrinters.h"
#include "vcl/BitBtn.h"
#include "vcl/FileDialogs.h"

namespace zuxtest {

// A file dialog that answers from the test instead of the user: a name to
// confirm, or nothing to cancel. `onExecute` runs while it is "open".
template <class Dialog>
class ScriptedDialog : public Dialog {
public:
    using Dialog::Dialog;
    std::optional<QString> answer;
    std::function<void()> onExecute;
    int shown = 0;

    bool Execute() override {
        ++shown;
        if (onExecute) onExecute();
        if (!answer) return false;
        this->FileName = *answer;
        return true;
    }
};

// Names the tests of a case table after each case's `name`, keeping only
// what a test name may hold.
struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    }
};

inline QString errorTextOf(MMRESULT result) {
    char text[256] = {};
    midiInGetErrorTextA(result, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

class FlowTest : public zuxtest::AppFixture {
protected:
    midi::SimulatedTransport sim;
    ScriptedDialog<vcl::TSaveDialog>* saveDialog = nullptr;
    ScriptedDialog<vcl::TOpenDialog>* openDialog = nullptr;
    QTemporaryDir dir;

    // The window waits for openWithPorts, since each test sets up its own ports.
    void SetUp() override {}
    void beforeWindow() override { midi::setTransports({&sim}); }

    // Creates the window over `inputs` and `outputs`.
    void openWithPorts(std::vector<midi::SimulatedTransport::Port> inputs,
              std::vector<midi::SimulatedTransport::Port> outputs) {
        for (auto& p : inputs) sim.addInput(p);
        for (auto& p : outputs) sim.addOutput(p);
        openWindow();
    }

    // The usual setup: one input, one output, both chosen.
    void openWithOnePortEach(bool chooseIn = true, bool chooseOut = true) {
        openWithPorts({{"Sim In"}}, {{"Sim Out"}});
        if (chooseIn) choose(form->ComboBox2, 0);
        if (chooseOut) choose(form->ComboBox1, 0);
    }

    // Replaces the form's file dialogs with scripted ones (the form deletes them).
    void scriptDialogs() {
        saveDialog = new ScriptedDialog<vcl::TSaveDialog>(form);
        delete form->SaveDialog1;
        form->SaveDialog1 = saveDialog;
        openDialog = new ScriptedDialog<vcl::TOpenDialog>(form);
        delete form->OpenDialog1;
        form->OpenDialog1 = openDialog;
    }

    // Waits for a reception to end: Log Clear comes back with its last step.
    bool waitEnded() {
        return QTest::qWaitFor([this] { return form->Button3->isEnabled(); }, 10000);
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    void TearDown() override {
        closeWindow();
        midi::setTransports({});
        EXPECT_EQ(zuxtest::liveBlocks(), 0);
    }
};

}  // namespace zuxtest
