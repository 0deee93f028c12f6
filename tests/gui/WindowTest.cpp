// The main window as it opens, its log, the About box, the exception display.
#include <QDir>
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <stdexcept>

#include "support/AppFixture.h"
#include "support/Dialogs.h"
#include "vcl/BitBtn.h"
#include "vcl/FileDialogs.h"
#include "vcl/Memo.h"

namespace {

using zuxtest::AppFixture;

const QColor kBlack(0, 0, 0), kFuchsia(255, 0, 255), kMaroon(128, 0, 0);

struct Control {
    const char* name;
    const char* kind;  // Qt class
    QRect geometry;    // labels: place only, they take the size of their text
    const char* text;
    int tabIndex;      // -1: takes no focus
    bool enabled;
    int pixelSize;
    QColor colour;     // invalid: the window's text colour
    bool bold;
    bool italic;
};

// The window's controls, from the top of the window down.
const Control kControls[] = {
    {"Label2", "QLabel", {8, 8, 97, 16}, "IN device", -1, true, 16, kBlack, false, false},
    {"ComboBox2", "QComboBox", {8, 24, 250, 20}, "", 0, true, 12, {}, false, false},
    {"Button2", "QPushButton", {264, 24, 75, 25}, "RECEIVE", 1, false, 12, kBlack, false, false},
    {"Label3", "QLabel", {8, 56, 89, 16}, "OUT device", -1, true, 16, kBlack, false, false},
    {"ComboBox1", "QComboBox", {8, 72, 250, 20}, "", 2, true, 12, {}, false, false},
    {"Button1", "QPushButton", {264, 72, 75, 25}, "TRANSMIT", 3, false, 12, kBlack, false, false},
    {"BitBtn1", "vcl::TBitBtn", {8, 104, 75, 25}, "STOP", 4, false, 12, {}, false, false},
    {"Memo1", "QPlainTextEdit", {96, 104, 241, 81}, "", 6, true, 12, {}, false, false},
    {"Button3", "QPushButton", {8, 136, 75, 25}, "Log Clear", 5, true, 12, {}, false, false},
    {"Label1", "QLabel", {0, 176, 84, 19}, "ZUX Filer", -1, true, 19, kFuchsia, true, true},
    {"Label4", "QLabel", {104, 184, 231, 12}, "for MIDI music sequencer ZUX", -1, true, 12, kMaroon,
     false, true},
};

QString textOf(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
    return QStringLiteral("?");
}

QMap<QString, QRect> geometries() {
    QMap<QString, QRect> out;
    for (const Control& c : kControls) out[c.name] = Form1->findChild<QWidget*>(c.name)->geometry();
    return out;
}

using WindowTest = AppFixture;

TEST_F(WindowTest, OpensAsDescribed) {
    EXPECT_EQ(Form1->windowTitle(), "MIDI ZUX Filer");
    EXPECT_EQ(application().Title, "MIDI music sequencer ZUX data filer");
    // The outer size includes the frame (offscreen windows get a thin one too).
    EXPECT_EQ(Form1->frameGeometry(), QRect(260, 140, 370, 240));
    const Qt::WindowFlags flags = Form1->windowFlags();
    EXPECT_TRUE(Form1->isWindow());
    EXPECT_FALSE(flags & Qt::MSWindowsFixedSizeDialogHint);
    EXPECT_EQ(Form1->minimumSize(), QSize(0, 0));
    EXPECT_EQ(Form1->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_EQ(Form1->palette().color(QPalette::Window), Form1->palette().color(QPalette::Button));
    EXPECT_EQ(QFontInfo(Form1->font()).family(), "IPAPGothic");
    EXPECT_EQ(Form1->font().pixelSize(), 12);
    EXPECT_FALSE(Form1->windowIcon().isNull());
    // The icon's images a window draws, each at its own size.
    const QList<QSize> sizes = Form1->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(64, 64)));
    for (const QSize& size : sizes) EXPECT_LE(size.width(), 64);

    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        auto* w = Form1->findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), Form1);
        EXPECT_STREQ(w->metaObject()->className(), c.kind);
        if (qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(w->pos(), c.geometry.topLeft());
            EXPECT_EQ(w->size(), w->sizeHint()) << "a label takes the size of its text";
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
        } else {
            EXPECT_EQ(w->geometry(), c.geometry);
            EXPECT_NE(w->focusPolicy() & Qt::TabFocus, 0);
        }
        EXPECT_EQ(textOf(w), c.text);
        EXPECT_EQ(w->isEnabled(), c.enabled);
        const QFontInfo font(w->font());
        EXPECT_EQ(font.family(), "IPAPGothic");
        EXPECT_EQ(w->font().pixelSize(), c.pixelSize);
        EXPECT_EQ(font.bold(), c.bold);
        EXPECT_EQ(font.italic(), c.italic);
        const QColor colour = c.colour.isValid() ? c.colour : Form1->palette().color(QPalette::WindowText);
        const auto role = qobject_cast<QAbstractButton*>(w) ? QPalette::ButtonText : QPalette::WindowText;
        if (!qobject_cast<QComboBox*>(w) && !qobject_cast<QPlainTextEdit*>(w) &&
            w->objectName() != "BitBtn1" && w->objectName() != "Button3") {
            EXPECT_EQ(w->palette().color(QPalette::Active, role), colour);
        }
    }

    // Pick-only lists, filled in the order given, items 12 px high.
    for (QComboBox* list : {Form1->ComboBox1, Form1->ComboBox2}) {
        EXPECT_FALSE(list->isEditable());
        EXPECT_EQ(list->currentIndex(), -1);
        list->clear();
        list->addItem("b");
        list->addItem("a");
        EXPECT_EQ(list->itemText(0), "b");
        EXPECT_EQ(list->view()->sizeHintForRow(0), 12);
    }
    // The log: read-only, vertical scroll bar only, long lines wrap.
    EXPECT_TRUE(Form1->Memo1->isReadOnly());
    EXPECT_EQ(Form1->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(Form1->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    // A long file name without spaces wraps as well.
    vcl::MemoLinesAdd(Form1->Memo1, "RECEIVE:saved(" + QString(80, 'x') + ".ZUX)");
    QApplication::processEvents();
    EXPECT_GT(Form1->Memo1->document()->firstBlock().layout()->lineCount(), 1);
    EXPECT_EQ(Form1->Memo1->horizontalScrollBar()->maximum(), 0);
    EXPECT_TRUE(Form1->Label1->autoFillBackground());
    EXPECT_EQ(Form1->Label1->palette().color(QPalette::Window), Form1->palette().color(QPalette::Button));
    EXPECT_FALSE(Form1->BitBtn1->icon().isNull());

    EXPECT_EQ(Form1->Timer1->interval(), 100);
    EXPECT_FALSE(Form1->Timer1->isActive());
    EXPECT_EQ(Form1->SaveDialog1->DefaultExt, "ZUX");
    EXPECT_EQ(Form1->SaveDialog1->Options, vcl::ofOverwritePrompt);
    EXPECT_EQ(Form1->SaveDialog1->Filter, "ZUXデータ|*.ZUX");
    EXPECT_EQ(Form1->SaveDialog1->FileName, "");
    EXPECT_EQ(Form1->OpenDialog1->DefaultExt, "");
    EXPECT_EQ(Form1->OpenDialog1->Options, vcl::ofHideReadOnly);
    EXPECT_EQ(Form1->OpenDialog1->Filter, "ZUXファイル|*.ZUX|syxファイル|*.syx");
    EXPECT_EQ(Form1->OpenDialog1->FilterIndex, 1);
    EXPECT_EQ(Form1->OpenDialog1->FileName, "");
    EXPECT_EQ(Form1->contextMenuPolicy(), Qt::CustomContextMenu);
}

// Tab runs IN list, RECEIVE, OUT list, TRANSMIT, STOP, Log Clear, log, and
// skips the controls that are disabled.
TEST_F(WindowTest, TabOrderSkipsDisabledControls) {
    Form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    auto walk = [] {
        QStringList seen;
        Form1->ComboBox2->setFocus(Qt::OtherFocusReason);
        for (int i = 0; i < 8; ++i) {
            seen << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        return seen;
    };
    EXPECT_EQ(walk(), QStringList({"ComboBox2", "ComboBox1", "Button3", "Memo1", "ComboBox2",
                                   "ComboBox1", "Button3", "Memo1"}));
    for (QWidget* w : {(QWidget*)Form1->Button1, (QWidget*)Form1->Button2, (QWidget*)Form1->BitBtn1})
        w->setEnabled(true);
    EXPECT_EQ(walk(), QStringList({"ComboBox2", "Button2", "ComboBox1", "Button1", "BitBtn1",
                                   "Button3", "Memo1", "ComboBox2"}));
}

TEST_F(WindowTest, LogClearEmptiesTheLogAndNextLineIsFirst) {
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    EXPECT_EQ(Form1->Memo1->toPlainText(), "");

    vcl::MemoLinesAdd(Form1->Memo1, "RECEIVE:waiting");
    vcl::MemoLinesAdd(Form1->Memo1, "RECEIVE:completed(12byte)");
    EXPECT_EQ(Form1->Memo1->toPlainText(), "RECEIVE:waiting\nRECEIVE:completed(12byte)");
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    EXPECT_EQ(Form1->Memo1->toPlainText(), "");
    EXPECT_TRUE(Form1->Button3->isEnabled());

    vcl::MemoLinesAdd(Form1->Memo1, "TRANSMIT:start");
    EXPECT_EQ(Form1->Memo1->toPlainText(), "TRANSMIT:start");
    EXPECT_EQ(Form1->Memo1->blockCount(), 1);
}

// Right click on a free part of the window, "About", and the real box.
TEST_F(WindowTest, AboutBoxFromTheContextMenu) {
    const QPoint free(350, 10);
    ASSERT_EQ(Form1->childAt(free), nullptr);
    QContextMenuEvent click(QContextMenuEvent::Mouse, free, Form1->mapToGlobal(free));
    QApplication::sendEvent(Form1, &click);
    ASSERT_TRUE(QTest::qWaitFor([] { return Form1->PopupMenu1->isVisible(); }, 10000));
    ASSERT_EQ(Form1->PopupMenu1->actions().size(), 1);
    EXPECT_EQ(Form1->PopupMenu1->actions()[0], Form1->About1);
    EXPECT_EQ(Form1->About1->text(), "About");
    EXPECT_TRUE(Form1->About1->shortcut().isEmpty());

    const auto before = geometries();
    QTimer ticker;  // the event loop keeps running while the box is open
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(100);
    int ticksWhileOpen = 0;
    zuxtest::BoxSeen seen;
    zuxtest::answerMessageBox(seen, [&] {
        const int start = ticks;
        (void)QTest::qWaitFor([&] { return ticks >= start + 2; }, 10000);
        ticksWhileOpen = ticks - start;
    });
    QTest::mouseClick(Form1->PopupMenu1, Qt::LeftButton, {},
                      Form1->PopupMenu1->actionGeometry(Form1->About1).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.shown; }, 10000));

    EXPECT_EQ(seen.text, "ZUX Filer Ver0.1");
    EXPECT_EQ(seen.caption, "about");
    EXPECT_EQ(seen.buttons, QStringList{"OK"});
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_TRUE(seen.modal);
    EXPECT_FALSE(seen.owned);
    EXPECT_GE(ticksWhileOpen, 2);
    EXPECT_EQ(geometries(), before);
    EXPECT_EQ(Form1->Memo1->toPlainText(), "");
}

// A handler that throws: the box shows the message with the application
// title, and the program goes on with the next event.
TEST_F(WindowTest, ExceptionInHandlerIsShownAndProgramGoesOn) {
    struct Case {
        std::function<void()> handler;
        const char* text;
    };
    const Case cases[] = {
        {[] { throw std::runtime_error("Port is gone"); }, "Port is gone."},
        {[] { throw 42; }, "Unknown exception."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        zuxtest::BoxSeen seen;
        zuxtest::answerMessageBox(seen);
        bool returned = false;
        QTimer::singleShot(0, Form1, [&] {
            vcl::Guard(c.handler);
            returned = true;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return returned; }, 10000));
        EXPECT_EQ(seen.caption, "MIDI music sequencer ZUX data filer");
        EXPECT_EQ(seen.text, c.text);
        EXPECT_EQ(seen.icon, QMessageBox::Critical);
        EXPECT_EQ(seen.buttons, QStringList{"OK"});
    }
    vcl::MemoLinesAdd(Form1->Memo1, "still here");
    QTest::mouseClick(Form1->Button3, Qt::LeftButton);
    EXPECT_EQ(Form1->Memo1->toPlainText(), "");
}

TEST_F(WindowTest, ResizingMovesNothing) {
    const auto before = geometries();
    Form1->resize(900, 700);
    QApplication::processEvents();
    EXPECT_EQ(geometries(), before);
    Form1->resize(120, 90);
    QApplication::processEvents();
    EXPECT_EQ(geometries(), before);
    Form1->showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(geometries(), before);
}

// Disabled, the STOP glyph is drawn grey instead of red.
TEST_F(WindowTest, StopGlyphIsGreyedWhileDisabled) {
    auto redness = [](const QIcon& icon, QIcon::Mode mode) {
        const QImage img = icon.pixmap(QSize(16, 16), mode).toImage();
        int red = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.alpha() > 128 && c.red() > 150 && c.green() < 80) ++red;
            }
        return red;
    };
    EXPECT_GT(redness(Form1->BitBtn1->icon(), QIcon::Normal), 10);
    EXPECT_EQ(redness(Form1->BitBtn1->icon(), QIcon::Disabled), 0);
}

}  // namespace
