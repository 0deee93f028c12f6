// The main window.
#pragma once

#include <QWidget>

class QComboBox;
class QPushButton;
class QLabel;
class QTimer;
class QPlainTextEdit;
class QMenu;
class QAction;
class TaskIcon;

namespace vcl {
class TApplication;
class TSaveDialog;
class TOpenDialog;
class TBitBtn;
}  // namespace vcl

class TForm1 : public QWidget {
    Q_OBJECT

public:
    QComboBox* ComboBox1;
    QComboBox* ComboBox2;
    QPushButton* Button1;
    QPushButton* Button2;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    vcl::TSaveDialog* SaveDialog1;
    vcl::TBitBtn* BitBtn1;
    QTimer* Timer1;
    QPlainTextEdit* Memo1;
    QPushButton* Button3;
    vcl::TOpenDialog* OpenDialog1;
    QMenu* PopupMenu1;
    QAction* About1;
    QLabel* Label4;

    void FormCreate(QObject* Sender);       // app/PortLists.cpp
    void ComboBox2Change(QObject* Sender);  // app/PortLists.cpp
    void ComboBox1Change(QObject* Sender);  // app/PortLists.cpp
    void Button2Click(QObject* Sender);     // receive/
    void BitBtn1Click(QObject* Sender);     // receive/
    void Timer1Timer(QObject* Sender);      // receive/
    void Button3Click(QObject* Sender);     // app/Unit1.cpp
    void Button1Click(QObject* Sender);     // transmit/
    void About1Click(QObject* Sender);      // app/Unit1.cpp

    explicit TForm1(vcl::TApplication* Owner);
    ~TForm1() override;

    // The program's icon in the dock or task bar, where the transfers show
    // their progress. Made on first use: start-up does not wait for the bus.
    TaskIcon& taskIcon();

private:
    TaskIcon* taskIcon_ = nullptr;
};

extern TForm1* Form1;
