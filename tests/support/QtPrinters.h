// Readable GoogleTest failure messages for the Qt types the tests compare.
#pragma once

#include <QDebug>
#include <QMap>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}

inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}

inline void PrintTo(const QPoint& p, std::ostream* os) { *os << p.x() << ',' << p.y(); }

inline void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << 'x' << s.height(); }

inline void PrintTo(const QMap<QString, QRect>& map, std::ostream* os) {
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        *os << it.key().toStdString() << '=';
        PrintTo(it.value(), os);
        *os << ' ';
    }
}

inline void PrintTo(const QVariantMap& map, std::ostream* os) {
    QString text;
    QDebug(&text).nospace() << map;
    *os << text.toStdString();
}
