// The window on simulated MIDI ports, for the tests of the two workflows and
// the port lists: the ports chosen per test, scripted file dialogs, the status
// log as a list of lines.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/Startup.h"
#include "app/Unit1.h"
#include "midi/SimulatedTransport.h"
#include "midi/TransferState.h"
#include "receive/Reception.h"
#include "support/Dialogs.h"
#include "support/QtPrinters.h"
#include "vcl/Application.h"
#include "vcl/BitBtn.h"
#include "vcl/FileDialogs.h"

namespace flows {

using Bytes = std::vector<std::uint8_t>;

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

inline QString ErrorTextOf(MMRESULT result) {
    char text[256] = {};
    midiInGetErrorTextA(result, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

class FlowTest : public ::testing::Test {
protected:
    midi::SimulatedTransport sim;
    TForm1* form = nullptr;
    ScriptedDialog<vcl::TSaveDialog>* saveDialog = nullptr;
    ScriptedDialog<vcl::TOpenDialog>* openDialog = nullptr;
    QTemporaryDir dir;

    // Creates the window over `inputs` and `outputs`.
    void Open(std::vector<midi::SimulatedTransport::Port> inputs,
              std::vector<midi::SimulatedTransport::Port> outputs) {
        for (auto& p : inputs) sim.addInput(p);
        for (auto& p : outputs) sim.addOutput(p);
        midi::setTransports({&sim});
        app_ = std::make_unique<vcl::TApplication>(argc_, argv_);
        CreateMainWindow(*app_);
        form = Form1;
        form->show();
    }

    // The usual setup: one input, one output, both chosen.
    void OpenWithPorts(bool chooseIn = true, bool chooseOut = true) {
        Open({{"Sim In"}}, {{"Sim Out"}});
        if (chooseIn) Choose(form->ComboBox2, 0);
        if (chooseOut) Choose(form->ComboBox1, 0);
    }

    // Replaces the form's file dialogs with scripted ones (the form deletes them).
    void ScriptDialogs() {
        saveDialog = new ScriptedDialog<vcl::TSaveDialog>(form);
        delete form->SaveDialog1;
        form->SaveDialog1 = saveDialog;
        openDialog = new ScriptedDialog<vcl::TOpenDialog>(form);
        delete form->OpenDialog1;
        form->OpenDialog1 = openDialog;
    }

    // Selects entry `index` as the user would.
    static void Choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    QStringList Log() const {
        const QString text = form->Memo1->toPlainText();
        return text.isEmpty() ? QStringList{} : text.split(QLatin1Char('\n'));
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    void TearDown() override {
        EndReceptionOnExit();  // as the program does once its window is closed
        app_.reset();          // the window with it
        midi::setTransports({});
        EXPECT_EQ(midi::testing::LiveBlocks(), 0);
    }

private:
    int argc_ = 1;
    char arg0_[8] = "zuxtest";
    char* argv_[2] = {arg0_, nullptr};
    std::unique_ptr<vcl::TApplication> app_;
};

}  // namespace flows
