// Renders the icon drawing (zuxfiler.svg) into the images the program ships:
//   zuxfiler.ico       ten images: 32 and 16 px at 4 bpp; 48, 32, 24, 16 px at
//                      8 bpp and at 24 bpp
//   zuxfiler-N.png     N = 16 24 32 48 64 128 256, for the desktop and the window:
//                      the build and the window take whichever sizes are here
// Usage: zuxicon <folder holding zuxfiler.svg>
#include <QSaveFile>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QImage render(QSvgRenderer& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    return image;
}

// The sixteen colours every display of the icon's era could show.
const QList<QRgb> kSixteen = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};

bool opaque(QRgb c) { return qAlpha(c) >= 128; }

// The colours as seen on the desktop: no alpha, transparent pixels black
// (the mask hides them).
QImage flatten(const QImage& argb) {
    QImage out(argb.size(), QImage::Format_RGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = argb.pixel(x, y);
            out.setPixel(x, y, opaque(c) ? qRgb(qRed(c), qGreen(c), qBlue(c)) : qRgb(0, 0, 0));
        }
    return out;
}

// Up to 256 colours: the most used ones, after merging near neighbours.
QList<QRgb> palette256(const QImage& flat) {
    QMap<QRgb, int> count;
    for (int y = 0; y < flat.height(); ++y)
        for (int x = 0; x < flat.width(); ++x) {
            const QRgb c = flat.pixel(x, y);
            count[qRgb(qRed(c) & 0xF8, qGreen(c) & 0xF8, qBlue(c) & 0xF8)] += 1;
        }
    std::vector<std::pair<int, QRgb>> byUse;
    for (auto it = count.cbegin(); it != count.cend(); ++it) byUse.emplace_back(-it.value(), it.key());
    std::sort(byUse.begin(), byUse.end());
    QList<QRgb> table{qRgb(0, 0, 0)};
    for (const auto& [n, c] : byUse) {
        if (table.size() == 256) break;
        const QRgb centred = qRgb(qRed(c) | 4, qGreen(c) | 4, qBlue(c) | 4);
        if (c != qRgb(0, 0, 0)) table << centred;
    }
    while (table.size() < 256) table << qRgb(0, 0, 0);
    return table;
}

void put16(QByteArray& b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); }
void put32(QByteArray& b, quint32 v) {
    for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xFF));
}

// One icon image: BITMAPINFOHEADER (height doubled for the mask), colour
// table, the colour bitmap bottom-up, then the 1 bpp transparency mask.
QByteArray iconImage(const QImage& argb, int bpp) {
    const int n = argb.width();
    const QImage flat = flatten(argb);
    QImage indexed;
    QList<QRgb> table;
    if (bpp == 4) {
        table = kSixteen;
        indexed = flat.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
    } else if (bpp == 8) {
        table = palette256(flat);
        indexed = flat.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
    }

    QByteArray b;
    put32(b, 40);
    put32(b, n);
    put32(b, 2 * n);
    put16(b, 1);
    put16(b, bpp);
    put32(b, 0);  // BI_RGB
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, bpp <= 8 ? (1u << bpp) : 0);
    put32(b, 0);
    for (QRgb c : table) b.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c))).append('\0');

    const int colourStride = ((n * bpp + 31) / 32) * 4;
    for (int y = n - 1; y >= 0; --y) {
        QByteArray row(colourStride, '\0');
        for (int x = 0; x < n; ++x) {
            if (bpp == 4) {
                const int i = indexed.pixelIndex(x, y);
                row[x / 2] = char(row[x / 2] | (x % 2 ? i : i << 4));
            } else if (bpp == 8) {
                row[x] = char(indexed.pixelIndex(x, y));
            } else {
                const QRgb c = flat.pixel(x, y);
                row[3 * x] = char(qBlue(c));
                row[3 * x + 1] = char(qGreen(c));
                row[3 * x + 2] = char(qRed(c));
            }
        }
        b.append(row);
    }
    const int maskStride = ((n + 31) / 32) * 4;
    for (int y = n - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < n; ++x)
            if (!opaque(argb.pixel(x, y))) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        b.append(row);
    }
    return b;
}

QByteArray icoFile(QSvgRenderer& svg) {
    const std::vector<std::pair<int, int>> images = {{32, 4}, {16, 4}, {48, 8}, {32, 8}, {24, 8},
                                                     {16, 8}, {48, 24}, {32, 24}, {24, 24}, {16, 24}};
    QByteArray dir, data;
    put16(dir, 0);
    put16(dir, 1);  // icon
    put16(dir, quint16(images.size()));
    quint32 offset = 6 + 16 * images.size();
    for (const auto& [size, bpp] : images) {
        const QByteArray image = iconImage(render(svg, size), bpp);
        dir.append(char(size)).append(char(size));
        dir.append(char(bpp == 4 ? 16 : 0)).append('\0');
        put16(dir, 1);
        put16(dir, quint16(bpp));
        put32(dir, quint32(image.size()));
        put32(dir, offset);
        offset += image.size();
        data.append(image);
    }
    return dir + data;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder holding zuxfiler.svg>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QSvgRenderer svg(folder + "/zuxfiler.svg");
    if (!svg.isValid()) {
        std::fprintf(stderr, "cannot read %s/zuxfiler.svg\n", argv[1]);
        return 1;
    }
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString name = QStringLiteral("%1/zuxfiler-%2.png").arg(folder).arg(size);
        if (!render(svg, size).save(name)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    QSaveFile ico(folder + "/zuxfiler.ico");
    const QByteArray bytes = icoFile(svg);
    if (!ico.open(QIODevice::WriteOnly) || ico.write(bytes) != bytes.size() || !ico.commit()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(ico.fileName()));
        return 1;
    }
    return 0;
}
