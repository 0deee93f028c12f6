#include "vcl/BitBtn.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace vcl {

namespace {

// The abort glyph: a bold red cross with a dark rim, drawn at `size` pixels.
QPixmap crossGlyph(int size, bool greyed) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 16.0;
    const QLineF a(3.5 * s, 3.5 * s, 12.5 * s, 12.5 * s);
    const QLineF b(12.5 * s, 3.5 * s, 3.5 * s, 12.5 * s);
    const QColor rim = greyed ? QColor(255, 255, 255) : QColor(96, 0, 0);
    const QColor fill = greyed ? QColor(128, 128, 128) : QColor(224, 0, 0);
    for (const auto& [colour, width] : {std::pair{rim, 4.0 * s}, std::pair{fill, 2.4 * s}}) {
        p.setPen(QPen(colour, width, Qt::SolidLine, Qt::SquareCap));
        p.drawLine(a);
        p.drawLine(b);
    }
    return pm;
}

}  // namespace

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
    QIcon glyph;
    for (int size : {16, 32}) {
        glyph.addPixmap(crossGlyph(size, false), QIcon::Normal);
        glyph.addPixmap(crossGlyph(size, true), QIcon::Disabled);
    }
    setIcon(glyph);
    setIconSize(QSize(16, 16));
}

}  // namespace vcl
