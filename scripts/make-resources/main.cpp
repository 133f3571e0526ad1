// Draws every picture of the window into resources/images/ and the busy animation into
// resources/work.gif. Run once through scripts/make-resources.sh; the output is committed.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QString gOut;

// One palette for the whole window.
// The title bar is a mid grey: the bold light caption with its dark shadow and the black web
// and About labels (white on grey while the mouse is over them) all read on it.
const QColor kTitleTop(0xa4, 0xa9, 0xb0);
const QColor kTitleBottom(0x7a, 0x7f, 0x87);
const QColor kEdge(0x12, 0x14, 0x17);
const QColor kHighlight(0xc4, 0xc8, 0xce);
// The dark bars of the notice and transfer panels.
const QColor kPanelTop(0x3a, 0x3f, 0x47);
const QColor kPanelBottom(0x1c, 0x1f, 0x24);
const QColor kPanelHighlight(0x55, 0x5c, 0x67);
const QColor kAccent(0x3d, 0x80, 0xdf);
const QColor kAccentDark(0x2a, 0x5e, 0xa8);
const QColor kInk(0xe6, 0xe8, 0xeb);
const QColor kInkDim(0x9a, 0xa1, 0xab);
const QColor kFaceTop(0x45, 0x4b, 0x55);
const QColor kFaceBottom(0x2a, 0x2e, 0x35);
const QColor kKey(0xff, 0x00, 0xff); // cut out of a picture button's shape

QImage Blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void Save(const QImage& img, const QString& name) {
    const QString path = gOut + QStringLiteral("/images/") + name + QStringLiteral(".png");
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// A vertical band, stretched by the window over a panel.
QImage Band(int w, int h, QColor top, QColor bottom, QColor topLine, QColor bottomLine) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(img.rect(), g);
    p.setPen(topLine);
    p.drawLine(0, 0, w - 1, 0);
    p.setPen(bottomLine);
    p.drawLine(0, h - 1, w - 1, h - 1);
    return img;
}

// Button faces are drawn smooth onto transparency, then made opaque: a pixel that is mostly
// covered takes the face over the bar's colour, the rest becomes the key colour.
QImage Flatten(const QImage& smooth, QColor behind) {
    QImage out(smooth.size(), QImage::Format_RGB32);
    for (int y = 0; y < smooth.height(); ++y)
        for (int x = 0; x < smooth.width(); ++x) {
            const QColor c = QColor::fromRgba(smooth.pixel(x, y));
            if (c.alpha() < 110) {
                out.setPixel(x, y, kKey.rgb());
                continue;
            }
            const double a = c.alphaF();
            const int r = int(c.red() * a + behind.red() * (1 - a) + 0.5);
            const int g = int(c.green() * a + behind.green() * (1 - a) + 0.5);
            const int b = int(c.blue() * a + behind.blue() * (1 - a) + 0.5);
            QColor px(r, g, b);
            if (px == kKey)
                px = QColor(0xfe, 0x00, 0xff);
            out.setPixel(x, y, px.rgb());
        }
    return out;
}

using IconFn = std::function<void(QPainter&, QRectF, bool down)>;

enum class Shape { Round, Circle };

QImage Face(int w, int h, Shape shape, bool down, QColor top, QColor bottom, const IconFn& icon, QColor behind) {
    QImage img = Blank(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, w - 1.0, h - 1.0);
    QPainterPath path;
    if (shape == Shape::Circle)
        path.addEllipse(r);
    else
        path.addRoundedRect(r, 5, 5);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, down ? bottom.darker(115) : top);
    g.setColorAt(1, down ? top.darker(120) : bottom);
    p.fillPath(path, g);
    p.setPen(QPen(kEdge, 1));
    p.drawPath(path);
    if (!down) {
        // a thin light edge along the top gives the face some depth
        QPainterPath inner;
        const QRectF ir = r.adjusted(1, 1, -1, -1);
        if (shape == Shape::Circle)
            inner.addEllipse(ir);
        else
            inner.addRoundedRect(ir, 4, 4);
        QLinearGradient hl(0, 0, 0, h);
        hl.setColorAt(0, QColor(255, 255, 255, 60));
        hl.setColorAt(0.5, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(hl), 1));
        p.drawPath(inner);
    }
    if (icon) {
        p.save();
        if (down)
            p.translate(0, 1);
        icon(p, QRectF(0, 0, w, h), down);
        p.restore();
    }
    p.end();
    return Flatten(img, behind);
}

void Button(const QString& name, int w, int h, Shape shape, const IconFn& icon, QColor behind, QColor top = kFaceTop,
            QColor bottom = kFaceBottom) {
    Save(Face(w, h, shape, false, top, bottom, icon, behind), name);
    Save(Face(w, h, shape, true, top, bottom, icon, behind), name + QStringLiteral("Down"));
}

QColor Ink(bool down) {
    return down ? kInk.darker(110) : kInk;
}

void Triangle(QPainter& p, QPointF a, QPointF b, QPointF c, QColor col) {
    QPainterPath t;
    t.moveTo(a);
    t.lineTo(b);
    t.lineTo(c);
    t.closeSubpath();
    p.fillPath(t, col);
}

// ---- the busy animation: a small GIF encoder of our own, since Qt reads GIF but cannot write it

struct GifWriter {
    QByteArray out;
    void u16(int v) {
        out.append(char(v & 0xff));
        out.append(char((v >> 8) & 0xff));
    }
};

// Codes stay 4 bits wide: a clear code after every three literals keeps the decoder's table
// from growing to 16 entries (the codes are 8 colours, clear 8, end 9, first free entry 10).
QByteArray LzwEncode(const std::vector<quint8>& pixels) {
    QByteArray bytes;
    quint32 acc = 0;
    int bits = 0;
    auto put = [&](int code) {
        acc |= quint32(code) << bits;
        bits += 4;
        while (bits >= 8) {
            bytes.append(char(acc & 0xff));
            acc >>= 8;
            bits -= 8;
        }
    };
    int run = 0;
    put(8);
    for (quint8 px : pixels) {
        if (run == 3) {
            put(8);
            run = 0;
        }
        put(px);
        ++run;
    }
    put(9);
    if (bits > 0)
        bytes.append(char(acc & 0xff));
    return bytes;
}

QByteArray BusyGif() {
    const int n = 8, size = 16;
    const QColor palette[8] = {QColor(0, 0, 0),          kAccent,
                               QColor(0x6a, 0x9c, 0xe4), QColor(0x8f, 0xa9, 0xcc),
                               QColor(0x8a, 0x90, 0x99), QColor(0x68, 0x6e, 0x77),
                               QColor(0x52, 0x57, 0x5f), QColor(0x44, 0x48, 0x4f)};
    GifWriter g;
    g.out.append("GIF89a");
    g.u16(size);
    g.u16(size);
    g.out.append(char(0xF2)); // global table of 8 colours
    g.out.append(char(0));
    g.out.append(char(0));
    for (const QColor& c : palette) {
        g.out.append(char(c.red()));
        g.out.append(char(c.green()));
        g.out.append(char(c.blue()));
    }
    g.out.append("\x21\xFF\x0B"
                 "NETSCAPE2.0"
                 "\x03\x01\x00\x00\x00",
                 19); // loop forever
    for (int f = 0; f < n; ++f) {
        QImage img = Blank(size, size);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < n; ++i) {
            const int age = (f - i + n) % n; // 0 is the head of the tail
            const double ang = 2 * M_PI * i / n - M_PI / 2;
            const QPointF c(7.5 + 5.3 * std::cos(ang), 7.5 + 5.3 * std::sin(ang));
            p.setBrush(palette[std::min(age + 1, 7)]);
            p.drawEllipse(c, 1.9, 1.9);
        }
        p.end();
        std::vector<quint8> idx(size * size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QColor c = QColor::fromRgba(img.pixel(x, y));
                int best = 0;
                if (c.alpha() >= 100) {
                    const QColor o =
                        QColor::fromRgbF(c.redF() / c.alphaF(), c.greenF() / c.alphaF(), c.blueF() / c.alphaF());
                    long bestD = -1;
                    for (int k = 1; k < 8; ++k) {
                        const long dr = o.red() - palette[k].red(), dg = o.green() - palette[k].green(),
                                   db = o.blue() - palette[k].blue();
                        const long d = dr * dr + dg * dg + db * db;
                        if (bestD < 0 || d < bestD) {
                            bestD = d;
                            best = k;
                        }
                    }
                }
                idx[y * size + x] = quint8(best);
            }
        g.out.append("\x21\xF9\x04", 3);
        g.out.append(char(0x09)); // restore to background, index 0 transparent
        g.u16(9);                 // 90 ms a frame
        g.out.append(char(0));
        g.out.append(char(0));
        g.out.append(char(0x2C));
        g.u16(0);
        g.u16(0);
        g.u16(size);
        g.u16(size);
        g.out.append(char(0));
        g.out.append(char(3)); // minimum code size
        const QByteArray data = LzwEncode(idx);
        for (qsizetype i = 0; i < data.size(); i += 255) {
            const QByteArray block = data.mid(i, 255);
            g.out.append(char(block.size()));
            g.out.append(block);
        }
        g.out.append(char(0));
    }
    g.out.append(char(0x3B));
    return g.out;
}

// ---- tree, list and state images (drawn on transparency: the tree and list are light)

void Note(QPainter& p, QPointF at, double s, QColor c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(at.x(), at.y()), 2.4 * s, 1.9 * s);
    p.fillRect(QRectF(at.x() + 1.6 * s, at.y() - 8 * s, 1.2 * s, 8 * s), c);
    QPainterPath flag;
    flag.moveTo(at.x() + 2.6 * s, at.y() - 8 * s);
    flag.cubicTo(at.x() + 5 * s, at.y() - 7 * s, at.x() + 5.5 * s, at.y() - 5 * s, at.x() + 4.5 * s, at.y() - 3.5 * s);
    flag.lineTo(at.x() + 2.6 * s, at.y() - 5.5 * s);
    flag.closeSubpath();
    p.fillPath(flag, c);
}

QImage TreeIcon(int kind) {
    QImage img = Blank(18, 18);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue = kAccent, grey(0x5c, 0x63, 0x6d), warm(0xd9, 0x8a, 0x2b);
    switch (kind) {
    case 0: // playlist: lines and a note
        p.setPen(QPen(grey, 1.4));
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(2, 4.5 + 4 * i), QPointF(i == 2 ? 7 : 10, 4.5 + 4 * i));
        Note(p, QPointF(11.5, 14.5), 1.0, blue);
        break;
    case 1: // music
        Note(p, QPointF(7, 14), 1.3, blue);
        break;
    case 2: { // videos: a film frame
        p.setPen(QPen(grey, 1.2));
        p.setBrush(QColor(0x2c, 0x31, 0x38));
        p.drawRoundedRect(QRectF(1.5, 3.5, 15, 11), 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xdd, 0xe1, 0xe6));
        for (int i = 0; i < 4; ++i) {
            p.drawRect(QRectF(3 + 3.5 * i, 4.7, 1.8, 1.5));
            p.drawRect(QRectF(3 + 3.5 * i, 11.8, 1.8, 1.5));
        }
        Triangle(p, QPointF(7.5, 7.3), QPointF(7.5, 10.9), QPointF(10.8, 9.1), blue.lighter(130));
        break;
    }
    case 3: { // the device
        p.setPen(QPen(QColor(0x3a, 0x3f, 0x47), 1.1));
        p.setBrush(QColor(0xe8, 0xea, 0xee));
        p.drawRoundedRect(QRectF(4, 1, 10, 16), 2, 2);
        p.setBrush(QColor(0x2c, 0x31, 0x38));
        p.drawRect(QRectF(5.5, 2.7, 7, 5));
        p.setBrush(QColor(0xc9, 0xcd, 0xd3));
        p.drawEllipse(QPointF(9, 12.3), 3, 3);
        p.setBrush(QColor(0xe8, 0xea, 0xee));
        p.drawEllipse(QPointF(9, 12.3), 1.1, 1.1);
        break;
    }
    case 4: { // an album: two stacked pictures
        p.setPen(QPen(grey, 1));
        p.setBrush(QColor(0xf0, 0xf1, 0xf3));
        p.drawRect(QRectF(4.5, 2.5, 11, 9));
        p.setBrush(QColor(0xff, 0xff, 0xff));
        p.drawRect(QRectF(2.5, 5.5, 11, 9));
        p.setPen(Qt::NoPen);
        Triangle(p, QPointF(3.5, 13.5), QPointF(7.5, 8.5), QPointF(11, 13.5), QColor(0x4f, 0x9a, 0x57));
        p.setBrush(warm);
        p.drawEllipse(QPointF(10, 8.3), 1.3, 1.3);
        break;
    }
    default: { // all photos: a framed landscape
        p.setPen(QPen(grey, 1));
        p.setBrush(QColor(0xd8, 0xe8, 0xf8));
        p.drawRoundedRect(QRectF(1.5, 3.5, 15, 11), 1, 1);
        p.setPen(Qt::NoPen);
        QPainterPath hill;
        hill.moveTo(2, 14);
        hill.lineTo(7, 8);
        hill.lineTo(10, 11);
        hill.lineTo(12, 9);
        hill.lineTo(16, 14);
        hill.closeSubpath();
        p.fillPath(hill, QColor(0x4f, 0x9a, 0x57));
        p.setBrush(warm);
        p.drawEllipse(QPointF(12.5, 6.3), 1.5, 1.5);
        break;
    }
    }
    return img;
}

QImage CheckIcon(bool checked, bool disabled) {
    QImage img = Blank(11, 11);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(0.5, 0.5, 10, 10);
    if (checked) {
        p.setPen(QPen(disabled ? QColor(0xa8, 0xb8, 0xcc) : kAccentDark, 1));
        p.setBrush(disabled ? QColor(0xc4, 0xd3, 0xe6) : kAccent);
    } else {
        p.setPen(QPen(disabled ? QColor(0xc8, 0xcb, 0xd0) : QColor(0x7d, 0x85, 0x90), 1));
        p.setBrush(disabled ? QColor(0xf2, 0xf3, 0xf5) : Qt::white);
    }
    p.drawRoundedRect(r, 2, 2);
    if (checked) {
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath tick;
        tick.moveTo(2.6, 5.6);
        tick.lineTo(4.6, 7.7);
        tick.lineTo(8.4, 3.3);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-resources <resources folder>\n");
        return 2;
    }
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut + QStringLiteral("/images"));
    QFont bold(QStringLiteral("DejaVu Sans"));
    bold.setBold(true);

    // title bar (57 high) and bottom bar (29 high)
    const QImage title = Band(16, 57, kTitleTop, kTitleBottom, kHighlight, kEdge);
    Save(title, QStringLiteral("TiImg"));
    QImage left = title.copy(0, 0, 5, 57), right = title.copy(0, 0, 5, 57);
    {
        QPainter p(&left);
        p.setPen(kEdge);
        p.drawLine(0, 0, 0, 56);
        p.setPen(kHighlight);
        p.drawLine(1, 1, 1, 55);
        QPainter q(&right);
        q.setPen(kEdge);
        q.drawLine(4, 0, 4, 56);
    }
    Save(left, QStringLiteral("SImg"));
    Save(right, QStringLiteral("RImg"));
    const QColor lowTop(0x2e, 0x32, 0x39), lowBottom(0x1e, 0x21, 0x26);
    const QImage low = Band(16, 29, lowTop, lowBottom, kEdge, kEdge);
    Save(low, QStringLiteral("BtImg"));
    QImage lowLeft = low.copy(0, 0, 5, 29);
    {
        QPainter p(&lowLeft);
        p.setPen(kEdge);
        p.drawLine(0, 0, 0, 28);
    }
    Save(lowLeft, QStringLiteral("LImg"));
    QImage grip = low.copy(0, 0, 10, 29);
    {
        QPainter p(&grip);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col <= row; ++col) {
                const QPointF c(8 - 3 * col, 25 - 3 * (2 - row) + 0.0);
                p.setBrush(kEdge);
                p.drawRect(QRectF(c.x() - 0.5, c.y() - 0.5, 2, 2));
                p.setBrush(kInkDim);
                p.drawRect(QRectF(c.x() - 1, c.y() - 1, 1.5, 1.5));
            }
    }
    Save(grip, QStringLiteral("ResizeImg"));

    // search field frame (the edit, 99 x 15, sits inside; the clear image at its right end)
    {
        QImage img(120, 19, QImage::Format_RGB32);
        QPainter p(&img);
        p.fillRect(img.rect(), QColor(0x26, 0x29, 0x2f));
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x0e, 0x10, 0x12), 1));
        p.setBrush(QColor(0x15, 0x17, 0x1b));
        p.drawRoundedRect(QRectF(0.5, 0.5, 119, 18), 4, 4);
        p.setPen(QPen(QColor(0x4a, 0x50, 0x5a), 1));
        p.drawLine(QPointF(4, 18.5), QPointF(116, 18.5));
        Save(img, QStringLiteral("SrbgImg"));
    }
    {
        QImage img = Blank(14, 14);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x6a, 0x71, 0x7b));
        p.drawEllipse(QRectF(1, 1, 12, 12));
        p.setPen(QPen(QColor(0x15, 0x17, 0x1b), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4.8, 4.8), QPointF(9.2, 9.2));
        p.drawLine(QPointF(9.2, 4.8), QPointF(4.8, 9.2));
        Save(img, QStringLiteral("ClearImg"));
    }

    // list header background (stretched) and the notice and transfer panels' bars
    Save(Band(16, 17, QColor(0xf6, 0xf7, 0xf9), QColor(0xdc, 0xdf, 0xe4), Qt::white, QColor(0xb4, 0xb9, 0xc1)),
         QStringLiteral("hbmp"));
    Save(Band(16, 28, kPanelTop, kPanelBottom, kPanelHighlight, kEdge), QStringLiteral("ErrBar"));
    Save(Band(16, 81, QColor(0x33, 0x37, 0x3e), QColor(0x22, 0x25, 0x2b), kPanelHighlight, kEdge),
         QStringLiteral("CopyBg"));

    // the warning image
    {
        QImage img = Blank(24, 24);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath t;
        t.moveTo(12, 2);
        t.lineTo(22.5, 21);
        t.lineTo(1.5, 21);
        t.closeSubpath();
        QLinearGradient g(0, 2, 0, 21);
        g.setColorAt(0, QColor(0xf5, 0xb7, 0x3b));
        g.setColorAt(1, QColor(0xd9, 0x84, 0x1c));
        p.setPen(QPen(QColor(0x9c, 0x5a, 0x0c), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(g);
        p.drawPath(t);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2a, 0x1c, 0x08));
        p.drawRoundedRect(QRectF(10.9, 7.5, 2.2, 8), 1, 1);
        p.drawEllipse(QPointF(12, 18.2), 1.3, 1.3);
        Save(img, QStringLiteral("WarImg"));
    }

    // album art placeholder (60 x 60)
    {
        QImage img(60, 60, QImage::Format_RGB32);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 60, 60);
        g.setColorAt(0, QColor(0x3a, 0x3f, 0x47));
        g.setColorAt(1, QColor(0x1f, 0x22, 0x27));
        p.fillRect(img.rect(), g);
        p.setPen(QPen(QColor(0x4a, 0x50, 0x5a), 1));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(30, 30), 22, 22);
        p.drawEllipse(QPointF(30, 30), 14, 14);
        Note(p, QPointF(26, 39), 2.2, QColor(0x8a, 0x90, 0x99));
        Save(img, QStringLiteral("ArtHolder"));
    }

    // the title bar's buttons sit around its middle; their soft edges blend into that colour
    const QColor onTitle(0x8c, 0x91, 0x98);
    auto glyphPen = [](bool down) { return QPen(Ink(down), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); };
    Button(
        QStringLiteral("MinBtn"), 20, 20, Shape::Round,
        [&](QPainter& p, QRectF, bool d) {
            p.setPen(glyphPen(d));
            p.drawLine(QPointF(6, 13), QPointF(14, 13));
        },
        onTitle);
    Button(
        QStringLiteral("CloseBtn"), 20, 20, Shape::Round,
        [&](QPainter& p, QRectF, bool d) {
            p.setPen(glyphPen(d));
            p.drawLine(QPointF(6.5, 6.5), QPointF(13.5, 13.5));
            p.drawLine(QPointF(13.5, 6.5), QPointF(6.5, 13.5));
        },
        onTitle, QColor(0x9c, 0x3b, 0x3b), QColor(0x6b, 0x22, 0x22));
    Button(
        QStringLiteral("HelpBtn"), 20, 20, Shape::Round,
        [&](QPainter& p, QRectF r, bool d) {
            QFont f = bold;
            f.setPixelSize(13);
            p.setFont(f);
            p.setPen(Ink(d));
            p.drawText(r, Qt::AlignCenter, QStringLiteral("?"));
        },
        onTitle);

    // transport buttons: round play/pause in accent, small previous/next beside them
    Button(
        QStringLiteral("PlayBtn"), 35, 36, Shape::Circle,
        [&](QPainter& p, QRectF, bool) { Triangle(p, QPointF(14, 11), QPointF(14, 25), QPointF(25.5, 18), Qt::white); },
        onTitle, kAccent.lighter(112), kAccentDark);
    Button(
        QStringLiteral("PauseBtn"), 35, 36, Shape::Circle,
        [&](QPainter& p, QRectF, bool) {
            p.fillRect(QRectF(12.5, 11.5, 3.6, 13), Qt::white);
            p.fillRect(QRectF(19, 11.5, 3.6, 13), Qt::white);
        },
        onTitle, kAccent.lighter(112), kAccentDark);
    Button(
        QStringLiteral("PrvSongBtn"), 28, 22, Shape::Round,
        [&](QPainter& p, QRectF, bool d) {
            p.fillRect(QRectF(7.5, 6.5, 2, 9), Ink(d));
            Triangle(p, QPointF(9.5, 11), QPointF(15, 6.5), QPointF(15, 15.5), Ink(d));
            Triangle(p, QPointF(15, 11), QPointF(20.5, 6.5), QPointF(20.5, 15.5), Ink(d));
        },
        onTitle);
    Button(
        QStringLiteral("NxtSongBtn"), 28, 22, Shape::Round,
        [&](QPainter& p, QRectF, bool d) {
            Triangle(p, QPointF(7.5, 6.5), QPointF(7.5, 15.5), QPointF(13, 11), Ink(d));
            Triangle(p, QPointF(13, 6.5), QPointF(13, 15.5), QPointF(18.5, 11), Ink(d));
            p.fillRect(QRectF(18.5, 6.5, 2, 9), Ink(d));
        },
        onTitle);

    // Check (a ticked box) and Copy (an arrow into a tray; the caption "Copy" is drawn by
    // the button from x = 38)
    Button(
        QStringLiteral("CheckBtn"), 44, 36, Shape::Round,
        [&](QPainter& p, QRectF, bool d) {
            p.setPen(QPen(Ink(d), 1.6));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(13, 9, 18, 18), 3, 3);
            p.setPen(QPen(kAccent.lighter(135), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            QPainterPath tick;
            tick.moveTo(17, 18);
            tick.lineTo(21, 22);
            tick.lineTo(28, 12.5);
            p.drawPath(tick);
        },
        onTitle);
    Button(
        QStringLiteral("ExportBtn"), 90, 36, Shape::Round,
        [&](QPainter& p, QRectF, bool) {
            p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawLine(QPointF(18, 8.5), QPointF(18, 20));
            QPainterPath head;
            head.moveTo(13, 15.5);
            head.lineTo(18, 20.5);
            head.lineTo(23, 15.5);
            p.drawPath(head);
            QPainterPath tray;
            tray.moveTo(10, 20);
            tray.lineTo(10, 26);
            tray.lineTo(26, 26);
            tray.lineTo(26, 20);
            p.drawPath(tray);
            p.setPen(QPen(QColor(255, 255, 255, 70), 1));
            p.drawLine(QPointF(34.5, 8), QPointF(34.5, 28));
        },
        onTitle, kAccent.lighter(112), kAccentDark);

    // the transfer panel's button: "Cancel" while copying, "Done" afterwards (caption drawn)
    const QColor onCopy(0x2a, 0x2e, 0x34);
    Save(Face(80, 26, Shape::Round, false, kFaceTop, kFaceBottom, nullptr, onCopy), QStringLiteral("btnc"));
    Save(Face(80, 26, Shape::Round, false, kAccent.lighter(112), kAccentDark, nullptr, onCopy), QStringLiteral("btnd"));

    // the photo page buttons
    const QColor onPage(0x3f, 0x3f, 0x3f);
    auto chevron = [&](bool next) {
        return [&, next](QPainter& p, QRectF, bool d) {
            p.setPen(QPen(Ink(d), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            QPainterPath c;
            c.moveTo(next ? 7.5 : 10.5, 4.5);
            c.lineTo(next ? 11 : 7, 8.5);
            c.lineTo(next ? 7.5 : 10.5, 12.5);
            p.drawPath(c);
        };
    };
    Button(QStringLiteral("PrvBtn"), 18, 17, Shape::Round, chevron(false), onPage);
    Button(QStringLiteral("NxtBtn"), 18, 17, Shape::Round, chevron(true), onPage);

    // image lists
    for (int i = 0; i < 6; ++i)
        Save(TreeIcon(i), QStringLiteral("PlayListImgs%1").arg(i));
    Save(CheckIcon(false, false), QStringLiteral("CheckImgs0"));
    Save(CheckIcon(true, false), QStringLiteral("CheckImgs1"));
    Save(CheckIcon(false, true), QStringLiteral("CheckImgs2"));
    Save(CheckIcon(true, true), QStringLiteral("CheckImgs3"));
    {
        QImage img = Blank(12, 12);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawEllipse(QRectF(0.5, 0.5, 11, 11));
        Triangle(p, QPointF(4.6, 3.2), QPointF(4.6, 8.8), QPointF(8.9, 6), Qt::white);
        Save(img, QStringLiteral("StateImgs0"));
    }

    // the program's icon
    {
        const int s = 256;
        QImage img = Blank(s, s);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, s);
        g.setColorAt(0, QColor(0x45, 0x4b, 0x55));
        g.setColorAt(1, QColor(0x16, 0x18, 0x1c));
        p.setPen(QPen(kEdge, 4));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(10, 10, s - 20, s - 20), 48, 48);
        // a click wheel
        QRadialGradient w(QPointF(128, 140), 80);
        w.setColorAt(0, QColor(0xe9, 0xeb, 0xef));
        w.setColorAt(1, QColor(0xb5, 0xba, 0xc2));
        p.setPen(Qt::NoPen);
        p.setBrush(w);
        p.drawEllipse(QPointF(128, 136), 82, 82);
        p.setBrush(QColor(0x2a, 0x2e, 0x35));
        p.drawEllipse(QPointF(128, 136), 34, 34);
        // an arrow out of the device, in the accent colour
        p.setPen(QPen(kAccent, 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(128, 112), QPointF(128, 156));
        QPainterPath head;
        head.moveTo(110, 140);
        head.lineTo(128, 158);
        head.lineTo(146, 140);
        p.setBrush(Qt::NoBrush);
        p.drawPath(head);
        p.end();
        Save(img, QStringLiteral("marrowgate"));
    }

    QFile gif(gOut + QStringLiteral("/images/work.gif"));
    if (!gif.open(QIODevice::WriteOnly) || gif.write(BusyGif()) < 0) {
        std::fprintf(stderr, "cannot write work.gif\n");
        return 1;
    }
    return 0;
}
