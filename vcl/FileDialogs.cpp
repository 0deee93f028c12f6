#include "vcl/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace vcl {

namespace {

// "desc|pattern|desc|pattern" → Qt's "desc (pattern)" entries; a pattern may
// list several globs separated by ';'.
QStringList nameFilters(const QString& filter) {
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return out;
}

bool run(TFileDialog& d, QWidget* owner, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    // Both dialogs take a typed name whether or not the file exists.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(d.Options & ofOverwritePrompt));
    if (!d.DefaultExt.isEmpty()) dialog.setDefaultSuffix(d.DefaultExt);

    const QStringList filters = nameFilters(d.Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = d.FilterIndex >= 1 && d.FilterIndex <= filters.size() ? d.FilterIndex : 1;
        dialog.selectNameFilter(filters[index - 1]);
    }
    // Like the old dialogs, open again at the last file chosen.
    if (!d.FileName.isEmpty()) dialog.selectFile(d.FileName);

    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    d.FileName = files.first();
    if (!filters.isEmpty()) {
        const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
        if (chosen >= 0) d.FilterIndex = int(chosen) + 1;
    }
    return true;
}

}  // namespace

bool TOpenDialog::Execute() { return run(*this, owner_, QFileDialog::AcceptOpen); }

bool TSaveDialog::Execute() { return run(*this, owner_, QFileDialog::AcceptSave); }

}  // namespace vcl
