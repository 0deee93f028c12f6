// A push button of the abort kind: red-cross glyph left of the text, greyed
// while disabled.
#pragma once

#include <QPushButton>

namespace vcl {

class TBitBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TBitBtn(QWidget* parent = nullptr);
};

}  // namespace vcl
