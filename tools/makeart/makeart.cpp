// Draws Tessavane's pictures with QPainter and saves them into a folder
// (default: resources). Everything is vector drawing plus the system font.

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <functional>

namespace tess::art {

namespace {

const QColor Navy(0x1d, 0x2b, 0x4f);
const QColor DeepNavy(0x0c, 0x13, 0x2a);
const QColor Orange(0xf2, 0x8c, 0x28);
const QColor Teal(0x2b, 0xb3, 0xc0);
const QColor Ink(0x24, 0x2f, 0x40);
const QColor Paper(0xfb, 0xfc, 0xfe);

QFont boldFont(qreal pixels) {
    QFont f;
    f.setPixelSize(qMax(1, qRound(pixels)));
    f.setBold(true);
    return f;
}

// The largest bold font, up to maxPixels, whose text fits the width.
QFont fittingFont(const QString& text, qreal width, qreal maxPixels) {
    for (qreal px = maxPixels; px > 5; px -= 0.5) {
        QFont f = boldFont(px);
        if (QFontMetricsF(f).horizontalAdvance(text) <= width)
            return f;
    }
    return boldFont(5);
}

void night(QPainter& p, const QRectF& r) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, Navy);
    g.setColorAt(1, DeepNavy);
    p.fillRect(r, g);
}

// Concentric arcs spreading from a point to the given side (angle in degrees).
void soundWaves(QPainter& p, QPointF from, qreal firstRadius, qreal step, int count,
                qreal direction, qreal width, QColor color) {
    p.save();
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < count; ++i) {
        QColor c = color;
        c.setAlphaF(1.0 - 0.22 * i);
        p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
        const qreal r = firstRadius + step * i;
        p.drawArc(QRectF(from.x() - r, from.y() - r, 2 * r, 2 * r), qRound((direction - 40) * 16),
                  80 * 16);
    }
    p.restore();
}

// An eighth note whose head sits at the given point.
void note(QPainter& p, QPointF head, qreal size, QColor color) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.translate(head);
    p.rotate(-20);
    p.drawEllipse(QRectF(-size * 0.32, -size * 0.22, size * 0.64, size * 0.44));
    p.rotate(20);
    const qreal stemX = size * 0.27;
    p.drawRect(QRectF(stemX - size * 0.07, -size * 1.1, size * 0.1, size * 1.1));
    QPainterPath flag;
    flag.moveTo(stemX, -size * 1.1);
    flag.cubicTo(stemX + size * 0.15, -size * 0.85, stemX + size * 0.55, -size * 0.8,
                 stemX + size * 0.35, -size * 0.35);
    flag.cubicTo(stemX + size * 0.4, -size * 0.7, stemX + size * 0.1, -size * 0.75, stemX,
                 -size * 0.85);
    flag.closeSubpath();
    p.drawPath(flag);
    p.restore();
}

// A candy-bar phone standing in the rectangle (about 1:2).
void phone(QPainter& p, const QRectF& r) {
    p.save();
    const qreal w = r.width();
    // Stub antenna, as on the phones this program writes for.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3a, 0x40, 0x4c));
    p.drawRoundedRect(QRectF(r.right() - w * 0.28, r.top(), w * 0.14, r.height() * 0.14), w * 0.05,
                      w * 0.05);
    const QRectF body(r.left(), r.top() + r.height() * 0.1, w, r.height() * 0.9);
    QLinearGradient shell(body.topLeft(), body.topRight());
    shell.setColorAt(0, QColor(0x9a, 0xa4, 0xb5));
    shell.setColorAt(0.45, QColor(0x5b, 0x65, 0x78));
    shell.setColorAt(1, QColor(0x33, 0x3a, 0x48));
    p.setBrush(shell);
    p.setPen(QPen(QColor(0x14, 0x18, 0x22), qMax(1.0, w * 0.02)));
    p.drawRoundedRect(body, w * 0.22, w * 0.22);

    const QRectF screen(body.left() + w * 0.14, body.top() + body.height() * 0.1, w * 0.72,
                        body.height() * 0.36);
    QLinearGradient glow(screen.topLeft(), screen.bottomRight());
    glow.setColorAt(0, Teal.lighter(140));
    glow.setColorAt(1, Teal.darker(150));
    p.setBrush(glow);
    p.setPen(QPen(QColor(0x10, 0x14, 0x1c), qMax(1.0, w * 0.02)));
    p.drawRoundedRect(screen, w * 0.05, w * 0.05);
    note(p, QPointF(screen.center().x() - w * 0.08, screen.center().y() + screen.height() * 0.22),
         screen.height() * 0.5, Paper);

    // Keypad: three by four.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd8, 0xdd, 0xe6));
    const qreal top = screen.bottom() + body.height() * 0.08;
    const qreal keyW = w * 0.18;
    const qreal keyH = body.height() * 0.06;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRoundedRect(QRectF(body.left() + w * 0.17 + col * w * 0.24,
                                     top + row * body.height() * 0.1, keyW, keyH),
                              keyH * 0.4, keyH * 0.4);
    p.restore();
}

// A page with a folded corner.
void page(QPainter& p, const QRectF& r, QColor fill = Paper) {
    p.save();
    const qreal fold = r.width() * 0.32;
    QPainterPath sheet;
    sheet.moveTo(r.topLeft());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.bottomRight());
    sheet.lineTo(r.bottomLeft());
    sheet.closeSubpath();
    p.setPen(QPen(Ink, 1.0));
    p.setBrush(fill);
    p.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    p.setBrush(QColor(0xc9, 0xd1, 0xde));
    p.drawPath(corner);
    p.restore();
}

void waveform(QPainter& p, const QRectF& r, QColor color, qreal width) {
    QPainterPath wave;
    const int steps = 40;
    for (int i = 0; i <= steps; ++i) {
        const qreal t = qreal(i) / steps;
        // A decaying burst looks like recorded sound rather than a pure tone.
        const qreal y = std::sin(t * 6.0 * M_PI) * (0.25 + 0.75 * std::sin(t * M_PI));
        const QPointF pt(r.left() + t * r.width(), r.center().y() - y * r.height() / 2);
        if (i == 0)
            wave.moveTo(pt);
        else
            wave.lineTo(pt);
    }
    p.save();
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.restore();
}

void arrow(QPainter& p, QPointF from, QPointF to, QColor color, qreal width) {
    p.save();
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const qreal head = width * 2.2;
    p.drawLine(to, to + QPointF(-head, -head));
    p.drawLine(to, to + QPointF(-head, head));
    p.restore();
}

void gear(QPainter& p, QPointF c, qreal r, QColor color) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.translate(c);
    for (int i = 0; i < 8; ++i) {
        p.drawRect(QRectF(-r * 0.18, -r * 1.15, r * 0.36, r * 0.5));
        p.rotate(45);
    }
    QPainterPath ring;
    ring.addEllipse(QPointF(), r * 0.85, r * 0.85);
    ring.addEllipse(QPointF(), r * 0.35, r * 0.35);
    p.drawPath(ring);
    p.restore();
}

// Twice the pixels for 200 % screens: the same drawing on a scaled painter.
QSize sized(int width, int height, qreal s) {
    return QSize(qRound(width * s), qRound(height * s));
}

// Picture buttons: a light face, the picture on the left, one or two words on the right.
QImage button(const std::function<void(QPainter&, const QRectF&)>& picture,
              const QStringList& words, qreal s) {
    QImage img(sized(64, 35, s), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF face(0.5, 0.5, 63, 34);
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    g.setColorAt(0, QColor(0xf7, 0xf9, 0xfc));
    g.setColorAt(1, QColor(0xd2, 0xd9, 0xe5));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x6f, 0x7b, 0x90), 1));
    p.drawRoundedRect(face, 4, 4);

    picture(p, QRectF(4, 5, 25, 25));

    const QRectF textArea(31, 3, 31, 29);
    p.setPen(Ink);
    const qreal lineH = textArea.height() / words.size();
    for (int i = 0; i < words.size(); ++i) {
        p.setFont(fittingFont(words[i], textArea.width(), words.size() == 1 ? 11 : 10));
        p.drawText(QRectF(textArea.left(), textArea.top() + i * lineH, textArea.width(), lineH),
                   Qt::AlignCenter, words[i]);
    }
    return img;
}

QImage buttonOpen(qreal s) {
    return button(
        [](QPainter& p, const QRectF& r) {
            page(p, QRectF(r.left() + 3, r.top(), r.width() * 0.68, r.height()));
            note(p, QPointF(r.left() + 9, r.top() + 17), 9, Navy);
            // Green plus: add one file.
            const QPointF c(r.right() - 5, r.bottom() - 5);
            p.setPen(QPen(Qt::white, 1));
            p.setBrush(QColor(0x2e, 0x9e, 0x4f));
            p.drawEllipse(c, 5.5, 5.5);
            p.setPen(QPen(Qt::white, 2));
            p.drawLine(c - QPointF(3, 0), c + QPointF(3, 0));
            p.drawLine(c - QPointF(0, 3), c + QPointF(0, 3));
        },
        {QStringLiteral("Open")}, s);
}

QImage buttonBatch(qreal s) {
    return button(
        [](QPainter& p, const QRectF& r) {
            for (int i = 2; i >= 0; --i) {
                const QRectF sheet(r.left() + 2 + i * 4, r.top() + 5 - i * 2.5, r.width() * 0.6,
                                   r.height() * 0.8);
                page(p, sheet, i == 0 ? Paper : QColor(0xe4, 0xe9, 0xf1));
            }
            note(p, QPointF(r.left() + 8, r.top() + 21), 8, Navy);
        },
        {QStringLiteral("Batch")}, s);
}

QImage buttonWav(qreal s) {
    return button(
        [](QPainter& p, const QRectF& r) {
            waveform(p, QRectF(r.left(), r.top() + 2, r.width(), r.height() * 0.5),
                     Teal.darker(130), 1.6);
            arrow(p, QPointF(r.left() + 4, r.bottom() - 5), QPointF(r.right() - 3, r.bottom() - 5),
                  Orange, 2.2);
        },
        {QStringLiteral("WAV"), QStringLiteral("QCP")}, s);
}

QImage buttonMake(qreal s) {
    return button(
        [](QPainter& p, const QRectF& r) {
            page(p, QRectF(r.left() + 1, r.top(), r.width() * 0.72, r.height()));
            p.setPen(Navy);
            p.setFont(fittingFont(QStringLiteral("GCD"), r.width() * 0.62, 8));
            p.drawText(QRectF(r.left() + 1, r.top() + 6, r.width() * 0.72, 10), Qt::AlignCenter,
                       QStringLiteral("GCD"));
            gear(p, QPointF(r.right() - 6, r.bottom() - 6), 5.5, Orange.darker(110));
        },
        {QStringLiteral("Make"), QStringLiteral("GCD")}, s);
}

QImage aboutSmall(qreal s) {
    QImage img(sized(80, 50, s), QImage::Format_RGB32);
    QPainter p(&img);
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing);
    night(p, QRectF(0, 0, 80, 50));
    phone(p, QRectF(10, 4, 20, 42));
    soundWaves(p, QPointF(30, 20), 7, 6, 4, 0, 2, Orange);
    note(p, QPointF(62, 38), 11, Teal);
    return img;
}

QImage batchSmall(qreal s) {
    QImage img(sized(80, 50, s), QImage::Format_RGB32);
    QPainter p(&img);
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 50);
    g.setColorAt(0, QColor(0xe9, 0xee, 0xf5));
    g.setColorAt(1, QColor(0xc4, 0xcd, 0xdb));
    p.fillRect(QRectF(0, 0, 80, 50), g);
    for (int i = 3; i >= 0; --i)
        page(p, QRectF(8 + i * 7, 12 - i * 3, 24, 32), i == 0 ? Paper : QColor(0xdd, 0xe3, 0xec));
    note(p, QPointF(16, 36), 12, Navy);
    arrow(p, QPointF(48, 28), QPointF(62, 28), Orange, 2.5);
    phone(p, QRectF(65, 8, 12, 36));
    return img;
}

// The big phone picture shared by the splash and the About window.
void phoneScene(QPainter& p, const QRectF& phoneRect, qreal scale) {
    QRadialGradient halo(phoneRect.center(), phoneRect.height() * 0.9);
    halo.setColorAt(0, QColor(0x2b, 0xb3, 0xc0, 70));
    halo.setColorAt(1, QColor(0x2b, 0xb3, 0xc0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(phoneRect.center(), phoneRect.height() * 0.9, phoneRect.height() * 0.9);
    phone(p, phoneRect);
    const QPointF mouth(phoneRect.left() - 4 * scale, phoneRect.top() + phoneRect.height() * 0.3);
    soundWaves(p, mouth, 10 * scale, 10 * scale, 4, 180, 3 * scale, Orange);
    note(p, QPointF(phoneRect.right() + 22 * scale, phoneRect.top() + 40 * scale), 16 * scale,
         Orange);
    note(p, QPointF(phoneRect.right() + 12 * scale, phoneRect.bottom() - 30 * scale), 11 * scale,
         Teal);
}

QImage splash(qreal s) {
    QImage img(sized(350, 250, s), QImage::Format_RGB32);
    QPainter p(&img);
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    night(p, QRectF(0, 0, 350, 250));
    // Top left (version line) and lower middle (LOADING...) stay plain.
    phoneScene(p, QRectF(258, 50, 44, 110), 1.0);

    const QString name = QStringLiteral("Tessavane");
    const QFont big = fittingFont(name, 180, 46);
    p.setFont(big);
    const QRectF title(18, 78, 210, 60);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(title.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter, name);
    p.setPen(Paper);
    p.drawText(title, Qt::AlignLeft | Qt::AlignVCenter, name);

    p.setPen(QPen(Orange, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 142), QPointF(200, 142));
    p.setFont(fittingFont(QStringLiteral("ringtones and pictures for your phone"), 200, 11));
    p.setPen(Teal.lighter(130));
    p.drawText(QRectF(20, 148, 210, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("ringtones and pictures for your phone"));
    return img;
}

QImage about(qreal s) {
    QImage img(sized(350, 250, s), QImage::Format_RGB32);
    QPainter p(&img);
    p.scale(s, s);
    p.setRenderHint(QPainter::Antialiasing);
    night(p, QRectF(0, 0, 350, 250));
    // A calm band below for the text labels.
    QLinearGradient band(0, 170, 0, 250);
    band.setColorAt(0, QColor(0, 0, 0, 0));
    band.setColorAt(1, QColor(0, 0, 0, 90));
    p.fillRect(QRectF(0, 170, 350, 80), band);
    phoneScene(p, QRectF(262, 30, 40, 100), 0.9);
    p.setPen(QPen(Orange, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 160), QPointF(330, 160));
    return img;
}

QImage icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient g(0, 0, 64, 64);
    g.setColorAt(0, Orange.lighter(115));
    g.setColorAt(1, QColor(0xc9, 0x4a, 0x1c));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1, 1, 62, 62), 12, 12);
    phone(p, QRectF(14, 7, 22, 50));
    soundWaves(p, QPointF(36, 22), 8, 8, 3, 0, 4, Paper);
    return img;
}

bool save(const QImage& img, const QString& folder, const QString& name, const char* format,
          int quality = -1) {
    const QString path = folder + QLatin1Char('/') + name;
    const bool ok = img.save(path, format, quality);
    QTextStream(stderr) << (ok ? "wrote " : "FAILED ") << path << '\n';
    return ok;
}

} // namespace

int run(const QString& folder) {
    if (!QDir().mkpath(folder))
        return 1;
    bool ok = true;
    for (const qreal s : {1.0, 2.0}) {
        // Qt picks name@2x.ext by itself on a screen of twice the density.
        const auto n = [s](const char* base, const char* ext) -> QString {
            return QLatin1String(base) + (s > 1 ? QStringLiteral("@2x") : QString()) +
                   QLatin1String(ext);
        };
        ok &= save(buttonOpen(s), folder, n("button_open", ".png"), "PNG");
        ok &= save(buttonBatch(s), folder, n("button_batch", ".png"), "PNG");
        ok &= save(buttonWav(s), folder, n("button_wav", ".png"), "PNG");
        ok &= save(buttonMake(s), folder, n("button_make", ".png"), "PNG");
        ok &= save(aboutSmall(s), folder, n("about_small", ".png"), "PNG");
        ok &= save(batchSmall(s), folder, n("batch_small", ".png"), "PNG");
        ok &= save(splash(s), folder, n("splash", ".jpg"), "JPG", 92);
        // RGB888 makes the BMP writer produce 24 bits per pixel.
        ok &= save(about(s).convertToFormat(QImage::Format_RGB888), folder, n("about", ".bmp"),
                   "BMP");
    }
    ok &= save(icon(32), folder, QStringLiteral("icon.png"), "PNG");
    ok &= save(icon(64), folder, QStringLiteral("icon_64.png"), "PNG");
    // The window icon at 200 % and the sizes of the desktop's icon theme.
    ok &= save(icon(64), folder, QStringLiteral("icon@2x.png"), "PNG");
    ok &= save(icon(128), folder, QStringLiteral("icon_64@2x.png"), "PNG");
    for (const int size : {16, 22, 24, 48, 128, 256})
        ok &= save(icon(size), folder, QStringLiteral("icon_%1.png").arg(size), "PNG");
    return ok ? 0 : 1;
}

} // namespace tess::art

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    return tess::art::run(args.size() > 1 ? args.at(1) : QStringLiteral("resources"));
}
