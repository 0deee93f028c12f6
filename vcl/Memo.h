// The status memo's line list: lines are only appended, or all cleared.
#pragma once

#include <QString>

class QPlainTextEdit;

namespace vcl {

// Appends `line` as the new last line of the memo.
void MemoLinesAdd(QPlainTextEdit* memo, const QString& line);

}  // namespace vcl
