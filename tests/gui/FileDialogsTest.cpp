// The open and save dialogs, driven through Qt's real file dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/Dialogs.h"
#include "support/QtPrinters.h"
#include "support/TestFiles.h"
#include "vcl/Application.h"
#include "vcl/FileDialogs.h"

namespace {

class FileDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    void touch(const QString& name) { ASSERT_TRUE(zuxtest::writeFile(path(name), {})); }

    int argc = 1;
    char arg0[8] = "zuxtest";
    char* argv[2] = {arg0, nullptr};
    vcl::TApplication application{argc, argv};  // as in the program: no settings kept
    QTemporaryDir dir;
};

QString chosenFilter(QWidget* dialog) {
    return dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentText();
}

TEST_F(FileDialogsTest, SaveAppendsDefaultExtensionToATypedName) {
    vcl::TSaveDialog save(nullptr);
    save.DefaultExt = "ZUX";
    save.Options = vcl::ofOverwritePrompt;
    save.Filter = "ZUXデータ|*.ZUX";
    QString filterShown;
    zuxtest::whenModal(
        [&](QWidget* w) {
            filterShown = chosenFilter(w);
            zuxtest::typeIntoFileDialog(path("backup"));
        },
        zuxtest::isFileDialog);
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(filterShown, "ZUXデータ (*.ZUX)");
    EXPECT_EQ(save.FileName, path("backup.ZUX"));

    // A name with an extension of its own keeps it.
    zuxtest::typeIntoFileDialog(path("backup.syx"));
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName, path("backup.syx"));

    zuxtest::cancelFileDialog();
    EXPECT_FALSE(save.Execute());
    EXPECT_FALSE(QFile::exists(path("backup.ZUX")));  // the dialog itself creates nothing
}

// An existing file: with ofOverwritePrompt the user is asked first, and "No"
// keeps the dialog open; without it the name is taken as is.
TEST_F(FileDialogsTest, OverwritePromptOnlyWhenAsked) {
    touch("old.ZUX");
    for (bool prompt : {true, false}) {
        SCOPED_TRACE(prompt ? "ofOverwritePrompt" : "no prompt");
        vcl::TSaveDialog save(nullptr);
        save.DefaultExt = "ZUX";
        save.Options = prompt ? vcl::ofOverwritePrompt : 0;
        zuxtest::BoxSeen asked;
        zuxtest::whenModal(
            [&](QWidget*) {
                zuxtest::typeIntoFileDialog(path("old"));
                if (!prompt) return;
                zuxtest::whenModal(
                    [&](QWidget* w) {
                        asked = zuxtest::describe(qobject_cast<QMessageBox*>(w));
                        qobject_cast<QMessageBox*>(w)->button(QMessageBox::No)->click();
                        zuxtest::cancelFileDialog();  // the dialog is still open
                    },
                    zuxtest::isMessageBox);
            },
            zuxtest::isFileDialog);
        const bool accepted = save.Execute();
        EXPECT_EQ(asked.shown, prompt);
        EXPECT_EQ(accepted, !prompt);
        if (!prompt) {
            EXPECT_EQ(save.FileName, path("old.ZUX"));
        }
    }
}

// The open dialog takes a typed name whether or not the file exists, and the
// next time opens with the filter and the file last chosen.
TEST_F(FileDialogsTest, OpenTakesAnyNameAndRemembersFilterAndFile) {
    vcl::TOpenDialog open(nullptr);
    open.Options = vcl::ofHideReadOnly;
    open.Filter = "ZUXファイル|*.ZUX|syxファイル|*.syx";
    touch("dump.syx");

    QString firstFilter;
    zuxtest::whenModal(
        [&](QWidget* w) {
            firstFilter = chosenFilter(w);
            auto* types = w->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            types->setCurrentIndex(1);
            emit types->activated(1);
            zuxtest::typeIntoFileDialog(path("dump.syx"));
        },
        zuxtest::isFileDialog);
    ASSERT_TRUE(open.Execute());
    EXPECT_EQ(firstFilter, "ZUXファイル (*.ZUX)");
    EXPECT_EQ(open.FileName, path("dump.syx"));
    EXPECT_EQ(open.FilterIndex, 2);

    QString filterAgain, nameAgain;
    zuxtest::whenModal(
        [&](QWidget* w) {
            filterAgain = chosenFilter(w);
            nameAgain = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            zuxtest::typeIntoFileDialog(path("missing.ZUX"));
        },
        zuxtest::isFileDialog);
    ASSERT_TRUE(open.Execute());
    EXPECT_EQ(filterAgain, "syxファイル (*.syx)");
    EXPECT_EQ(nameAgain, "dump.syx");
    EXPECT_EQ(open.FileName, path("missing.ZUX"));
}

// Qt's file dialog keeps a history in the user's settings; the program keeps
// none, so running a dialog must leave the user's Qt settings file alone.
TEST_F(FileDialogsTest, LeavesNoSettingsBehind) {
    const QString conf = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                             .filePath(QStringLiteral("QtProject.conf"));
    auto contents = [&] {
        QFile f(conf);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    };
    const QByteArray before = contents();
    {
        vcl::TOpenDialog open(nullptr);
        zuxtest::typeIntoFileDialog(path("x.ZUX"));
        ASSERT_TRUE(open.Execute());
    }
    EXPECT_EQ(contents(), before);
}

}  // namespace
