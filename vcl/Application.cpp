#include "vcl/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

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

int signalPipe[2] = {-1, -1};
bool quitRequested = false;

void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// A desktop that logs out, or Ctrl+C in a terminal, ends the program the way
// closing the window does: the message loop returns, start-up finishes (a
// running reception is ended) and the exit code is 0. The handler only
// writes to a pipe; the event loop does the rest.
void quitOnSignals(QApplication* qt) {
    if (signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qt);
    QObject::connect(notifier, &QSocketNotifier::activated, qt, [qt] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &byte, 1);
        quitRequested = true;
        // exit(), unlike quit(), works before the main loop runs too and
        // leaves every running loop, modal boxes' included.
        qt->exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

}  // namespace

TApplication::TApplication(int& argc, char** argv) {
    qt_ = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!qt_) {
        qt_ = new QApplication(argc, argv);
        ownsQt_ = true;
        quitOnSignals(qt_);  // the program's own application only, not a test's
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
    if (!mainForm_ || quitRequested) return;
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
