// waylink-makeart: draws the program's pictures (background skins, module-button images,
// log-on pictures and the icon). Run once by hand; its outputs are committed:
//   waylink-makeart <repository root>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>

namespace {

struct Palette
{
    const char *name;
    QColor top;    // header band, top
    QColor band;   // header band, bottom
    QColor body1;  // body, upper
    QColor body2;  // body, lower
    QColor accent; // routes and highlights
};

QFont uiFont(int pixelSize, bool bold = false)
{
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// Decorations stay out of the nine-grid's stretched strips (x 255..315, y 150..210), so
// the picture also stretches cleanly on screens larger than itself.
void drawSkin(const Palette &pal, int variant, const QString &file)
{
    const int W = 1600, H = 1000;
    QImage img(W, H, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient body(0, 0, 0, H);
    body.setColorAt(0.0, pal.band);
    body.setColorAt(0.10, pal.body1);
    body.setColorAt(1.0, pal.body2);
    p.fillRect(img.rect(), body);

    QLinearGradient head(0, 0, 0, 104);
    head.setColorAt(0, pal.top);
    head.setColorAt(1, pal.band);
    p.fillRect(QRect(0, 0, W, 104), head);
    // A soft sheen across the header, right part only.
    QLinearGradient sheen(600, 0, W, 0);
    sheen.setColorAt(0, QColor(255, 255, 255, 0));
    sheen.setColorAt(1, QColor(255, 255, 255, 40));
    p.fillRect(QRect(600, 0, W - 600, 104), sheen);
    p.fillRect(QRect(0, 103, W, 1), QColor(255, 255, 255, 70));
    p.fillRect(QRect(0, 104, W, 1), QColor(0, 0, 0, 40));

    QRandomGenerator rng(quint32(variant * 7919 + 17));
    // Large translucent discs in the right half.
    for (int i = 0; i < 7; ++i) {
        const double cx = 700 + rng.bounded(880);
        const double cy = 240 + rng.bounded(700);
        const double r = 60 + rng.bounded(180);
        QRadialGradient g(cx, cy, r);
        QColor c = i % 2 ? pal.accent : QColor(255, 255, 255);
        c.setAlpha(28 + rng.bounded(22));
        g.setColorAt(0, c);
        c.setAlpha(0);
        g.setColorAt(1, c);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QPointF(cx, cy), r, r);
    }

    // Flowing waves along the bottom.
    for (int k = 0; k < 3; ++k) {
        QPainterPath wave;
        const double base = H - 60 - k * 55;
        wave.moveTo(0, H);
        wave.lineTo(0, base);
        for (int x = 0; x <= W; x += 20) {
            const double y = base + 26 * std::sin(x / (230.0 + 40 * k) + variant + k) +
                             14 * std::sin(x / 97.0 + k * 2.1);
            wave.lineTo(x, y);
        }
        wave.lineTo(W, H);
        wave.closeSubpath();
        QColor c = k == 1 ? pal.accent : QColor(255, 255, 255);
        c.setAlpha(k == 1 ? 34 : 26);
        p.fillPath(wave, c);
    }

    // Delivery routes: dotted arcs between hubs, right part of the body.
    QList<QPointF> hubs;
    for (int i = 0; i < 6; ++i)
        hubs.append(QPointF(760 + rng.bounded(780), 280 + rng.bounded(520)));
    QPen route(QColor(255, 255, 255, 95), 1.6, Qt::DotLine, Qt::RoundCap);
    for (int i = 0; i + 1 < hubs.size(); ++i) {
        const QPointF a = hubs[i], b = hubs[i + 1];
        const QPointF mid = (a + b) / 2 + QPointF(0, -80 - rng.bounded(60));
        QPainterPath arc;
        arc.moveTo(a);
        arc.quadTo(mid, b);
        p.setPen(route);
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
    }
    for (const QPointF &h : hubs) {
        QColor glow = pal.accent;
        glow.setAlpha(90);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(h, 9, 9);
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawEllipse(h, 3.5, 3.5);
    }
    p.end();
    img.save(file, "JPG", 82);
}

QImage roundedTile(const QColor &c1, const QColor &c2)
{
    QImage img(48, 48, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 48);
    g.setColorAt(0, c1);
    g.setColorAt(1, c2);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1.2));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3.5, 3.5, 41, 41), 10, 10);
    QLinearGradient gloss(0, 4, 0, 24);
    gloss.setColorAt(0, QColor(255, 255, 255, 90));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(5, 5, 38, 20), 9, 9);
    return img;
}

void drawModuleIcon(const QString &code, const QColor &c1, const QColor &c2, const QString &dir)
{
    QImage img = roundedTile(c1, c2);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen pen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (code == QLatin1String("GG")) { // notices: a document with lines
        p.drawRoundedRect(QRectF(15, 12, 18, 24), 2, 2);
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        for (int y : {19, 24, 29})
            p.drawLine(19, y, 29, y);
    } else if (code == QLatin1String("CW")) { // finance: a yuan sign in a coin
        p.drawEllipse(QPointF(24, 24), 12, 12);
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 17), QPointF(24, 23));
        p.drawLine(QPointF(29, 17), QPointF(24, 23));
        p.drawLine(QPointF(24, 23), QPointF(24, 31));
        p.drawLine(QPointF(20, 24), QPointF(28, 24));
        p.drawLine(QPointF(20, 28), QPointF(28, 28));
    } else if (code == QLatin1String("XT") || code == QLatin1String("SYSTEM")) { // gear
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            QTransform t;
            t.translate(24, 24);
            t.rotateRadians(a);
            p.save();
            p.setTransform(t);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawRect(QRectF(-3, -15, 6, 7));
            p.restore();
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 4));
        p.drawEllipse(QPointF(24, 24), 8.5, 8.5);
    } else if (code == QLatin1String("YD")) { // waybills: a parcel
        QPainterPath box;
        box.moveTo(24, 11);
        box.lineTo(36, 17);
        box.lineTo(36, 31);
        box.lineTo(24, 37);
        box.lineTo(12, 31);
        box.lineTo(12, 17);
        box.closeSubpath();
        p.drawPath(box);
        p.drawLine(QPointF(12, 17), QPointF(24, 23));
        p.drawLine(QPointF(36, 17), QPointF(24, 23));
        p.drawLine(QPointF(24, 23), QPointF(24, 37));
    } else if (code == QLatin1String("BB")) { // reports: bars
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(13, 26, 5, 10), 1, 1);
        p.drawRoundedRect(QRectF(21.5, 18, 5, 18), 1, 1);
        p.drawRoundedRect(QRectF(30, 12, 5, 24), 1, 1);
    } else if (code == QLatin1String("CX")) { // queries: a magnifier
        p.drawEllipse(QPointF(21, 21), 8, 8);
        p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(27, 27), QPointF(35, 35));
    } else if (code == QLatin1String("ZD")) { // sites: a map pin
        QPainterPath pin;
        pin.moveTo(24, 38);
        pin.cubicTo(14, 27, 13, 22, 13, 20);
        pin.arcTo(QRectF(13, 9, 22, 22), 180, -180);
        pin.cubicTo(35, 22, 34, 27, 24, 38);
        p.drawPath(pin);
        p.drawEllipse(QPointF(24, 20), 4, 4);
    } else if (code == QLatin1String("RY")) { // staff: a person
        p.drawEllipse(QPointF(24, 17), 6, 6);
        QPainterPath body;
        body.moveTo(12, 37);
        body.cubicTo(12, 26, 36, 26, 36, 37);
        p.drawPath(body);
    } else if (code == QLatin1String("KF")) { // service: a speech bubble
        QPainterPath b;
        b.addRoundedRect(QRectF(11, 12, 26, 18), 6, 6);
        p.drawPath(b);
        p.drawLine(QPointF(18, 30), QPointF(16, 37));
        p.drawLine(QPointF(16, 37), QPointF(24, 30));
    }
    p.end();
    img.save(dir + u'/' + code + QStringLiteral(".png"), "PNG");
}

void drawLogOnPanel(const QString &file)
{
    const int W = 289, H = 373;
    QImage img(W, H, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(0, 0, 0, H);
    bg.setColorAt(0, QColor(250, 252, 255));
    bg.setColorAt(1, QColor(236, 242, 249));
    p.fillRect(img.rect(), bg);

    QLinearGradient head(0, 0, 0, 66);
    head.setColorAt(0, QColor(32, 110, 190));
    head.setColorAt(1, QColor(20, 78, 150));
    p.fillRect(QRect(0, 0, W, 66), head);
    p.fillRect(QRect(0, 66, W, 2), QColor(255, 170, 30));
    // Emblem: a route arrow in a circle.
    p.setPen(QPen(Qt::white, 2.4));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(QPointF(38, 33), 17, 17);
    QPainterPath arrow;
    arrow.moveTo(27, 38);
    arrow.quadTo(36, 20, 48, 28);
    p.setBrush(Qt::NoBrush);
    p.drawPath(arrow);
    p.drawLine(QPointF(48, 28), QPointF(42, 27));
    p.drawLine(QPointF(48, 28), QPointF(46, 34));
    p.setPen(Qt::white);
    p.setFont(uiFont(21, true));
    p.drawText(QRect(64, 8, 210, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("用户登录"));
    p.setPen(QColor(210, 228, 248));
    p.setFont(uiFont(11));
    p.drawText(QRect(64, 36, 215, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Waylink 快递物流管理系统"));

    const char *labels[] = {"网点编号", "用户名称", "登录密码", "服务器", "脱机登录"};
    const int tops[] = {84, 122, 160, 198, 236};
    p.setFont(uiFont(13));
    p.setPen(QColor(52, 66, 84));
    for (int i = 0; i < 5; ++i)
        p.drawText(QRect(20, tops[i], 72, 26), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromUtf8(labels[i]));

    // The log-on button painted where the hot area lies (24, 281, 244 x 41).
    QLinearGradient btn(0, 281, 0, 322);
    btn.setColorAt(0, QColor(255, 163, 40));
    btn.setColorAt(1, QColor(236, 118, 12));
    p.setPen(QPen(QColor(200, 96, 8), 1));
    p.setBrush(btn);
    p.drawRoundedRect(QRectF(24.5, 281.5, 243, 40), 6, 6);
    p.setPen(QColor(255, 255, 255, 90));
    p.drawLine(QPointF(30, 283), QPointF(262, 283));
    p.setPen(Qt::white);
    p.setFont(uiFont(17, true));
    p.drawText(QRect(24, 281, 244, 41), Qt::AlignCenter, QStringLiteral("登    录"));

    p.setPen(QColor(140, 152, 168));
    p.setFont(uiFont(11));
    p.drawText(QRect(0, 336, W, 24), Qt::AlignCenter, QStringLiteral("按 Enter 登录 · Esc 退出"));
    p.setPen(QColor(200, 210, 222));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, W - 1, H - 1));
    p.end();
    img.save(file, "JPG", 92);
}

void drawBanner(const QString &file)
{
    const int W = 1400, H = 78;
    QImage img(W, H, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, W, 0);
    g.setColorAt(0, QColor(18, 74, 140));
    g.setColorAt(1, QColor(40, 140, 200));
    p.fillRect(img.rect(), g);
    p.setPen(Qt::white);
    p.setFont(uiFont(28, true));
    p.drawText(QRect(30, 0, 800, H), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Waylink 快递物流管理系统"));
    p.setPen(QColor(255, 200, 80));
    p.setFont(uiFont(14));
    p.drawText(QRect(500, 0, 600, H), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("网点 · 财务 · 公告  一站式管理"));
    p.end();
    img.save(file, "JPG", 88);
}

void drawIcon(const QString &file)
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 32);
    g.setColorAt(0, QColor(40, 130, 210));
    g.setColorAt(1, QColor(18, 74, 150));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 7, 7);
    p.setPen(QPen(QColor(255, 180, 40), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath w;
    w.moveTo(7, 10);
    w.lineTo(11.5, 23);
    w.lineTo(16, 13);
    w.lineTo(20.5, 23);
    w.lineTo(25, 10);
    p.drawPath(w);
    p.end();
    img.save(file, "ICO");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: waylink-makeart <repository root>\n", stderr);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QString skins = root.filePath(QStringLiteral("shell/resources/skins"));
    const QString modules = root.filePath(QStringLiteral("shell/resources/modules"));
    const QString jpg = root.filePath(QStringLiteral("deploy/_jpg"));
    QDir().mkpath(skins);
    QDir().mkpath(modules);
    QDir().mkpath(jpg);

    const Palette pals[] = {
        {"Skinkd1", QColor(14, 70, 140), QColor(30, 110, 185), QColor(92, 160, 215),
         QColor(196, 224, 243), QColor(255, 190, 60)},
        {"Skinkd2", QColor(8, 92, 100), QColor(20, 135, 140), QColor(90, 180, 178),
         QColor(206, 236, 230), QColor(255, 214, 102)},
        {"Skinkd3", QColor(40, 40, 110), QColor(70, 70, 160), QColor(128, 128, 205),
         QColor(216, 216, 242), QColor(255, 170, 90)},
        {"Skinkd4", QColor(30, 120, 200), QColor(60, 160, 225), QColor(130, 195, 240),
         QColor(226, 242, 252), QColor(255, 255, 255)},
        {"Skinkd5", QColor(20, 96, 56), QColor(40, 140, 84), QColor(112, 184, 130),
         QColor(220, 240, 222), QColor(255, 226, 110)},
        {"Skinkd6", QColor(70, 30, 110), QColor(110, 60, 160), QColor(160, 120, 200),
         QColor(232, 220, 244), QColor(255, 196, 120)},
        {"Skinkd7", QColor(40, 56, 72), QColor(66, 86, 108), QColor(120, 140, 162),
         QColor(216, 224, 232), QColor(120, 200, 255)},
        {"Skinkd8", QColor(170, 70, 20), QColor(216, 110, 40), QColor(240, 170, 110),
         QColor(252, 232, 212), QColor(255, 255, 255)},
        {"Skinkd9", QColor(130, 20, 36), QColor(176, 40, 56), QColor(212, 116, 124),
         QColor(246, 222, 224), QColor(255, 210, 120)},
        {"Skinkd10", QColor(30, 30, 34), QColor(58, 60, 66), QColor(106, 110, 120),
         QColor(206, 210, 216), QColor(255, 160, 40)},
        {"Skincc1", QColor(0, 110, 130), QColor(0, 160, 170), QColor(90, 200, 196),
         QColor(214, 244, 240), QColor(255, 255, 255)},
        {"Skincc2", QColor(150, 40, 90), QColor(196, 80, 130), QColor(228, 150, 180),
         QColor(250, 228, 236), QColor(255, 236, 150)},
        {"Skincc3", QColor(140, 100, 10), QColor(190, 146, 30), QColor(226, 196, 110),
         QColor(250, 240, 210), QColor(255, 255, 255)},
        {"Skincc4", QColor(10, 20, 50), QColor(24, 44, 90), QColor(50, 80, 140),
         QColor(150, 176, 214), QColor(120, 220, 255)},
    };
    int variant = 0;
    for (const Palette &pal : pals)
        drawSkin(pal, ++variant,
                 skins + u'/' + QString::fromLatin1(pal.name) + QStringLiteral(".jpg"));

    struct Icon
    {
        const char *code;
        QColor c1, c2;
    };
    const Icon icons[] = {
        {"GG", QColor(255, 170, 50), QColor(230, 110, 20)},
        {"CW", QColor(70, 200, 120), QColor(20, 140, 80)},
        {"XT", QColor(120, 150, 190), QColor(60, 84, 120)},
        {"SYSTEM", QColor(120, 150, 190), QColor(60, 84, 120)},
        {"YD", QColor(90, 170, 255), QColor(30, 100, 210)},
        {"BB", QColor(180, 120, 240), QColor(110, 60, 190)},
        {"CX", QColor(60, 200, 220), QColor(10, 130, 160)},
        {"ZD", QColor(255, 110, 110), QColor(200, 40, 60)},
        {"RY", QColor(250, 150, 200), QColor(200, 70, 130)},
        {"KF", QColor(120, 210, 90), QColor(60, 150, 40)},
    };
    for (const Icon &ic : icons)
        drawModuleIcon(QString::fromLatin1(ic.code), ic.c1, ic.c2, modules);

    // Previews of the backgrounds for the window-style settings: fg1..fg10 show Skinkd1..10
    // as the main window would, with its module buttons.
    for (int i = 1; i <= 10; ++i) {
        const QImage skin(skins + QStringLiteral("/Skinkd%1.jpg").arg(i));
        QImage view = skin.copy(skin.width() - 1170, 0, 1170, 777);
        QPainter p(&view);
        p.setRenderHint(QPainter::Antialiasing);
        const char *codes[] = {"GG", "CW", "YD", "CX", "BB", "XT"};
        for (int b = 0; b < 6; ++b) {
            const QImage ic(modules + u'/' + QString::fromLatin1(codes[b]) +
                            QStringLiteral(".png"));
            p.drawImage(QPoint(7 + b * 90 + 12, 30), ic);
        }
        p.end();
        view.scaled(390, 259, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .save(jpg + QStringLiteral("/fg%1.jpg").arg(i), "JPG", 85);
    }

    drawLogOnPanel(jpg + QStringLiteral("/login_m.jpg"));
    drawBanner(jpg + QStringLiteral("/login_top.jpg"));
    drawIcon(jpg + QStringLiteral("/App.ico"));
    return 0;
}
