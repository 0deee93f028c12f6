#include "vcl/Form.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QWidget>

namespace vcl {

namespace {

class FixedHeightDelegate : public QStyledItemDelegate {
public:
    FixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};

// The window manager adds its frame after the window is shown, and only then
// is the frame's size known: shrink the client area once so that the outer
// size is the one asked for. Without a window manager there is no frame and
// the client area keeps the whole size.
class OuterGeometry : public QObject {
public:
    OuterGeometry(QWidget* window, const QRect& outer) : QObject(window), outer_(outer) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show) {
            auto* w = static_cast<QWidget*>(watched);
            const QRect frame = w->frameGeometry();
            const QRect client = w->geometry();
            if (frame != client && !w->isMaximized() && !w->isFullScreen()) {
                w->removeEventFilter(this);
                w->resize(outer_.width() - (frame.width() - client.width()),
                          outer_.height() - (frame.height() - client.height()));
                w->move(outer_.topLeft());
                deleteLater();
            }
        }
        return false;
    }

private:
    QRect outer_;
};

void applyFont(QWidget* w) {
    const QVariant pixelSize = w->property("fontPixelSize");
    if (pixelSize.isValid()) {
        QFont font = w->font();
        font.setPixelSize(pixelSize.toInt());
        w->setFont(font);
    }
    const QVariant colour = w->property("fontColor");
    if (colour.isValid()) {
        QPalette palette = w->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
                palette.setColor(group, role, colour.value<QColor>());
        }
        w->setPalette(palette);
    }
}

}  // namespace

void ApplyFormDescription(QWidget* form) {
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    form->setPalette(palette);
    form->setAutoFillBackground(true);

    // Parent first: a child's font resolves against its parent's.
    applyFont(form);
    for (QWidget* w : form->findChildren<QWidget*>()) {
        applyFont(w);
        const QVariant itemHeight = w->property("itemHeight");
        if (auto* combo = qobject_cast<QComboBox*>(w); combo && itemHeight.isValid())
            combo->setItemDelegate(new FixedHeightDelegate(itemHeight.toInt(), combo));
        if (auto* label = qobject_cast<QLabel*>(w); label && label->property("autoSize").toBool())
            label->adjustSize();
    }

    const QVariant outer = form->property("outerGeometry");
    if (outer.isValid()) {
        const QRect rect = outer.toRect();
        form->move(rect.topLeft());
        form->resize(rect.size());
        new OuterGeometry(form, rect);
    }
}

}  // namespace vcl
