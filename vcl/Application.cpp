#include "vcl/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QWidget>

namespace vcl {

TApplication* Application = nullptr;

namespace {

// Every box of the application: modal to the whole program, owned by no
// window, plain text (file names may hold '<' or '&').
int showBox(QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return IDOK;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) {
    qt_ = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!qt_) {
        qt_ = new QApplication(argc, argv);
        ownsQt_ = true;
    }
    // The program keeps no settings, but Qt's own file dialog saves its
    // history to the user's settings file when it closes. Point Qt's settings
    // at a folder that can never be created, so nothing is written.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    Application = this;
}

TApplication::~TApplication() {
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it) delete it->data();
    forms_.clear();
    if (Application == this) Application = nullptr;
    if (ownsQt_) delete qt_;
}

void TApplication::Initialize() {}

void TApplication::adoptMainForm(QWidget* form, const std::function<void()>& formCreate) {
    forms_.emplace_back(form);
    if (!mainForm_) mainForm_ = form;
    Guard(formCreate);
}

void TApplication::Run() {
    if (!mainForm_) return;
    mainForm_->show();
    qt_->exec();
}

void TApplication::ShowException(const std::exception& e) {
    showBox(QMessageBox::Critical, Title, QString::fromUtf8(e.what()) + QLatin1Char('.'));
}

int TApplication::MessageBox(const QString& text, const QString& caption, int /*flags*/) {
    // Every caller passes MB_OK: one OK button, no icon.
    return showBox(QMessageBox::NoIcon, caption, text);
}

void Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        if (Application) {
            Application->ShowException(e);
        } else {
            showBox(QMessageBox::Critical, QString(), QString::fromUtf8(e.what()) + QLatin1Char('.'));
        }
    } catch (...) {
        // Qt must never see an exception leave a slot, whatever its type.
        showBox(QMessageBox::Critical, Application ? Application->Title : QString(),
                QStringLiteral("Unknown exception."));
    }
}

}  // namespace vcl
