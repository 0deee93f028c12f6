#include "vcl/Memo.h"

#include <QPlainTextEdit>

namespace vcl {

void MemoLinesAdd(QPlainTextEdit* memo, const QString& line) {
    // A new paragraph at the end; the view follows when it was at the bottom.
    memo->appendPlainText(line);
}

}  // namespace vcl
