// Open and save dialogs with the old library's properties, shown as Qt's own
// (non-native) file dialog so every desktop and every test sees the same one.
#pragma once

#include <QString>

class QWidget;

namespace vcl {

enum TOpenOption : int {
    ofOverwritePrompt = 0x1,  // save: confirm before replacing an existing file
    ofHideReadOnly = 0x2,     // open: no read-only check box
};

class TFileDialog {
public:
    explicit TFileDialog(QWidget* owner) : owner_(owner) {}
    virtual ~TFileDialog() = default;

    QString Filter;      // "description|pattern|description|pattern"
    int FilterIndex = 1; // 1-based; the dialog remembers the last choice
    QString DefaultExt;  // appended (with a dot) to a typed name that has none
    int Options = 0;
    QString FileName;    // full path after Execute returns true

    // Modal; true when the user confirmed a file.
    virtual bool Execute() = 0;

protected:
    QWidget* owner_;
};

class TOpenDialog : public TFileDialog {
public:
    using TFileDialog::TFileDialog;
    bool Execute() override;
};

class TSaveDialog : public TFileDialog {
public:
    using TFileDialog::TFileDialog;
    bool Execute() override;
};

}  // namespace vcl
