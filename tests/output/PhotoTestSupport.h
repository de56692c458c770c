#pragma once
// Pictures and checks shared by the photo tests.
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QSize>

namespace quillora::test {

// A page like the virtual camera's: paper, a black square marker in the top-left corner an
// eighth of the width wide, and lines of dark "words".
inline QImage makeDocumentPage(QSize size)
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(QColor(0xf4, 0xf1, 0xea));
    QPainter p(&page);
    const int w = size.width();
    const int h = size.height();
    const int margin = std::max(1, w / 32);
    const int marker = std::max(2, w / 8);
    p.fillRect(margin, margin, marker, marker, Qt::black);
    const int line = std::max(2, h / 48);
    for (int y = 2 * margin + marker, n = 0; y + line < h - 3 * margin; y += 2 * line, ++n)
        for (int x = 2 * margin + (n % 3) * 7; x + 20 < w - 2 * margin; x += w / 10 + 3 * (n % 4))
            p.fillRect(x, y, w / 14, line, QColor(0x2b, 0x2b, 0x33));
    return page;
}

// Where the centre of the marker of an unturned w x h page lands after `rotation` quarter
// turns clockwise; also where the opposite top corner (plain paper) lands.
struct CornerProbe {
    QPoint marker;
    QPoint paper;
};
inline QPoint turnedPoint(QPoint p, QSize unturned, int rotation)
{
    const int w = unturned.width();
    const int h = unturned.height();
    switch (rotation) {
    case 1:
        return {h - 1 - p.y(), p.x()};
    case 2:
        return {w - 1 - p.x(), h - 1 - p.y()};
    case 3:
        return {p.y(), w - 1 - p.x()};
    default:
        return p;
    }
}
inline CornerProbe cornerProbe(QSize unturned, int rotation)
{
    const int margin = std::max(1, unturned.width() / 32);
    const int half = std::max(2, unturned.width() / 8) / 2;
    const QPoint marker(margin + half, margin + half);
    const QPoint paper(unturned.width() - 1 - marker.x(), marker.y());
    return {turnedPoint(marker, unturned, rotation), turnedPoint(paper, unturned, rotation)};
}

inline QByteArray fileHead(const QString &path, int bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
}

} // namespace quillora::test
