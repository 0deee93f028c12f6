#include "app/Unit1.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/TaskIcon.h"
#include "ui_Unit1.h"
#include "vcl/Application.h"
#include "vcl/BitBtn.h"
#include "vcl/FileDialogs.h"
#include "vcl/Form.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(vcl::TApplication* /*Owner*/) : QWidget(nullptr) {
    // The controls come from the form description (Unit1.ui).
    Ui::TForm1 ui;
    ui.setupUi(this);
    vcl::ApplyFormDescription(this);
    ComboBox1 = ui.ComboBox1;
    ComboBox2 = ui.ComboBox2;
    Button1 = ui.Button1;
    Button2 = ui.Button2;
    Label1 = ui.Label1;
    Label2 = ui.Label2;
    Label3 = ui.Label3;
    BitBtn1 = ui.BitBtn1;
    Memo1 = ui.Memo1;
    Button3 = ui.Button3;
    Label4 = ui.Label4;

    // The sizes tools/icon/ drew, up to the largest a title bar or a window
    // switcher draws: each image is decoded at once, and docks take the
    // desktop entry's icon, installed in every size.
    constexpr int kLargestWindowIcon = 64;
    QIcon icon;
    for (const QFileInfo& image : QDir(QStringLiteral(":/icon")).entryInfoList(QDir::Files)) {
        const QSize size = QImageReader(image.filePath()).size();
        if (size.width() <= kLargestWindowIcon) icon.addFile(image.filePath(), size);
    }
    setWindowIcon(icon);

    // The components without an area.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);

    SaveDialog1 = new vcl::TSaveDialog(this);
    SaveDialog1->DefaultExt = QStringLiteral("ZUX");
    SaveDialog1->Options = vcl::ofOverwritePrompt;
    SaveDialog1->Filter = QStringLiteral("ZUXデータ|*.ZUX");

    OpenDialog1 = new vcl::TOpenDialog(this);
    OpenDialog1->Options = vcl::ofHideReadOnly;
    OpenDialog1->Filter = QStringLiteral("ZUXファイル|*.ZUX|syxファイル|*.syx");
    OpenDialog1->FilterIndex = 1;

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    About1 = PopupMenu1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(mapToGlobal(pos)); });

    // Every event enters its handler through the guard; the handler is given
    // the component that raised the event.
    auto wire = [this](auto* sender, auto signal, void (TForm1::*handler)(QObject*)) {
        connect(sender, signal, this, [this, sender, handler] {
            vcl::Guard([&] { (this->*handler)(sender); });
        });
    };
    wire(ComboBox2, &QComboBox::activated, &TForm1::ComboBox2Change);
    wire(ComboBox1, &QComboBox::activated, &TForm1::ComboBox1Change);
    wire(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    wire(BitBtn1, &QPushButton::clicked, &TForm1::BitBtn1Click);
    wire(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    wire(Button3, &QPushButton::clicked, &TForm1::Button3Click);
    wire(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    wire(About1, &QAction::triggered, &TForm1::About1Click);
}

TForm1::~TForm1() {
    delete SaveDialog1;
    delete OpenDialog1;
    if (Form1 == this) Form1 = nullptr;
}

TaskIcon& TForm1::taskIcon() {
    if (!taskIcon_) taskIcon_ = new TaskIcon(this);
    return *taskIcon_;
}

void TForm1::Button3Click(QObject*) { Memo1->setPlainText(QString()); }

void TForm1::About1Click(QObject*) {
    vcl::Application->MessageBox(QStringLiteral("ZUX Filer Ver0.1"), QStringLiteral("about"), vcl::MB_OK);
}
