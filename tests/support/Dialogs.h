// Drives modal boxes and dialogs from a test: a handler that opens one with
// exec() blocks until it closes, so the test acts on it from a timer.
#pragma once

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

namespace zuxtest {

// The name of the timers that watch for a modal widget.
inline const QString kModalWatch = QStringLiteral("zuxtest.modalWatch");

// Stops every watch still waiting, so none acts on a later test's widget.
inline void stopModalWatches() {
    qDeleteAll(qApp->findChildren<QTimer*>(kModalWatch, Qt::FindDirectChildrenOnly));
}

// Calls `act` once with the active modal widget, as soon as there is one
// that `matches`. Gives up silently after `timeoutMs` (the test's own
// checks then fail), so a missing box never hangs the test run. The window's
// fixture stops the watches still waiting when it closes the window.
inline void whenModal(std::function<void(QWidget*)> act,
                                  std::function<bool(QWidget*)> matches = [](QWidget*) { return true; },
                                  int timeoutMs = 10000) {
    auto* poll = new QTimer(qApp);
    poll->setObjectName(kModalWatch);
    poll->setInterval(10);
    auto left = std::make_shared<int>(timeoutMs / 10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act, matches, left] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && matches(modal)) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        } else if (--*left <= 0) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start();
}

// What a message box showed.
struct BoxSeen {
    bool shown = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;  // the buttons' texts
    bool modal = false;
    bool owned = false;   // has a parent window
};

inline BoxSeen describe(QMessageBox* box) {
    BoxSeen seen;
    seen.shown = true;
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text().remove(QLatin1Char('&'));
    seen.modal = box->isModal();
    seen.owned = box->parentWidget() != nullptr;
    return seen;
}

inline bool isMessageBox(QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; }
inline bool isFileDialog(QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; }

// Records the next message box and closes it with its first button.
inline void answerMessageBox(BoxSeen& seen, std::function<void()> whileOpen = {}) {
    whenModal(
        [&seen, whileOpen](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            seen = describe(box);
            if (whileOpen) whileOpen();
            box->buttons().value(0)->click();
        },
        isMessageBox);
}

// Types `name` into the next file dialog's name box and presses its accept
// button, as a user would (so the dialog's own checks run). Waits up to
// `timeoutMs` for the dialog to open.
inline void typeIntoFileDialog(const QString& name, int timeoutMs = 10000) {
    whenModal(
        [name](QWidget* w) {
            auto* edit = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            edit->setText(name);
            auto* buttons = w->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            QPushButton* accept = buttons->button(QDialogButtonBox::Save);
            if (!accept) accept = buttons->button(QDialogButtonBox::Open);
            accept->click();
        },
        isFileDialog, timeoutMs);
}

// Cancels the next file dialog.
inline void cancelFileDialog() {
    whenModal([](QWidget* w) { static_cast<QDialog*>(w)->reject(); }, isFileDialog);
}

}  // namespace zuxtest
