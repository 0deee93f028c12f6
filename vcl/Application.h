// The application object: title, main form, message loop, exception display
// and message boxes, over QApplication.
#pragma once

#include <exception>
#include <functional>
#include <vector>

#include <QPointer>
#include <QString>

class QApplication;
class QWidget;

namespace vcl {

constexpr int MB_OK = 0;  // one OK button, no icon
constexpr int IDOK = 1;   // MessageBox result: OK pressed (or the box closed)

class TApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication();

    void Initialize();
    QString Title;

    // Constructs the form owned by this application, applies its form
    // description, stores it in `ref` and runs its creation handler before
    // it is first shown. The first form created is the main form.
    template <class Form>
    void CreateForm(Form*& ref) {
        ref = new Form(this);
        adoptMainForm(ref, [ref] { ref->FormCreate(ref); });
    }

    // Shows the main form and dispatches events until it is closed.
    void Run();

    // A box with the stop icon and one OK button, captioned with Title,
    // text = the exception's message followed by ".".
    void ShowException(const std::exception& e);

    // A modal box owned by the application; returns the button pressed.
    int MessageBox(const QString& text, const QString& caption, int flags);

private:
    void adoptMainForm(QWidget* form, const std::function<void()>& formCreate);
    QApplication* qt_;
    bool ownsQt_ = false;   // false when a QApplication existed already (tests)
    QWidget* mainForm_ = nullptr;
    std::vector<QPointer<QWidget>> forms_;  // destroyed with the application
};

extern TApplication* Application;

// Every event handler is entered through this: an exception is shown by the
// application's exception display and the event loop goes on.
void Guard(const std::function<void()>& handler);

}  // namespace vcl
