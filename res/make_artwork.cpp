// The artwork generator: draws the console's icons, the page tree's image strip, the group
// pictures and the logon picture, and writes them as "<resource number>.png" into a directory.
//
// usage: orvelan_make_artwork DIR   (see res/README.md; the results are kept in the repository)
#include <cmath>
#include <cstdio>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

// The console's colours: navy as in the group captions, a lighter blue, and an amber accent.
const QColor NAVY(0, 0, 128);
const QColor DEEP(10, 24, 64);
const QColor BLUE(38, 92, 178);
const QColor SKY(120, 170, 235);
const QColor AMBER(242, 168, 36);
const QColor PAPER(244, 246, 250);
const QString FACE = QStringLiteral("DejaVu Sans");

QDir outDir;
int failures = 0;

void save(const QImage& image, const QString& name) {
    QString path = outDir.filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
}

QImage transparentImage(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

QFont font(int pixels, int weight = QFont::Normal, bool italic = false) {
    QFont f(FACE);
    f.setPixelSize(pixels);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(italic);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Emblem and icons

// The Orvelan emblem in a square of side s at (x, y): a globe behind a gatekeeper's bar, the
// proxy between the network and the world.
void drawEmblem(QPainter& p, qreal x, qreal y, qreal s) {
    p.save();
    p.translate(x, y);
    p.scale(s / 64.0, s / 64.0);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(1, 1, 62, 62), 13, 13);
    QLinearGradient back(0, 0, 0, 64);
    back.setColorAt(0, BLUE.lighter(120));
    back.setColorAt(1, NAVY);
    p.fillPath(tile, back);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.5));
    p.drawPath(tile);
    // The globe.
    QRectF globe(12, 10, 40, 40);
    QRadialGradient shine(QPointF(26, 22), 30);
    shine.setColorAt(0, QColor(190, 225, 255));
    shine.setColorAt(1, QColor(60, 130, 210));
    p.setPen(QPen(Qt::white, 2.2));
    p.setBrush(shine);
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 210), 1.6));
    p.drawEllipse(QRectF(22, 10, 20, 40));
    p.drawLine(QPointF(32, 10), QPointF(32, 50));
    p.drawLine(QPointF(12, 30), QPointF(52, 30));
    p.drawArc(QRectF(14, 14, 36, 10), 0, 180 * 16);
    p.drawArc(QRectF(14, 36, 36, 10), 180 * 16, 180 * 16);
    // The gate: an amber bar with a keyhole.
    QPainterPath bar;
    bar.addRoundedRect(QRectF(8, 44, 48, 12), 4, 4);
    p.setPen(QPen(QColor(120, 70, 0), 1.2));
    QLinearGradient gold(0, 44, 0, 56);
    gold.setColorAt(0, AMBER.lighter(125));
    gold.setColorAt(1, AMBER.darker(120));
    p.setBrush(gold);
    p.drawPath(bar);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 40, 0));
    p.drawEllipse(QRectF(30, 46.5, 4, 4));
    p.drawRect(QRectF(31.2, 49, 1.6, 4.5));
    p.restore();
}

QImage appIcon(int size) {
    QImage image = transparentImage(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawEmblem(p, 0, 0, size);
    return image;
}

// 24 x 24: a printer with a sheet coming out.
QImage printIcon() {
    QImage image = transparentImage(24, 24);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 70), 1));
    p.setBrush(Qt::white); // the sheet waiting at the back
    p.drawRect(QRectF(6.5, 1.5, 11, 8));
    QLinearGradient body(0, 8, 0, 18);
    body.setColorAt(0, QColor(215, 218, 225));
    body.setColorAt(1, QColor(120, 125, 140));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 8.5, 21, 10), 2, 2);
    p.setBrush(QColor(40, 200, 60));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(18, 10.5, 2.5, 2.5));
    p.setPen(QPen(QColor(60, 60, 70), 1));
    p.setBrush(Qt::white); // the printed sheet
    p.drawRect(QRectF(5.5, 14.5, 13, 8));
    p.setPen(QPen(QColor(70, 100, 190), 1));
    for (int y = 17; y <= 21; y += 2)
        p.drawLine(QPointF(7.5, y), QPointF(16.5, y));
    return image;
}

// 24 x 24: two arrows chasing each other round a circle, light on the green button.
QImage refreshIcon() {
    QImage image = transparentImage(24, 24);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    auto arrow = [&](int startDeg, QColor fill) {
        QPainterPath arc;
        QRectF r(4, 4, 16, 16);
        arc.arcMoveTo(r, startDeg);
        arc.arcTo(r, startDeg, 140);
        double a = (startDeg + 140) * M_PI / 180.0;
        QPointF tip(12 + 8 * std::cos(a), 12 - 8 * std::sin(a));
        QPointF dir(-std::sin(a), -std::cos(a)); // the tangent in drawing direction
        QPointF side(std::cos(a), -std::sin(a));
        QPolygonF head({tip + dir * 5, tip + side * 4.2, tip - side * 4.2});
        p.setPen(QPen(QColor(0, 60, 0), 5, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        p.setPen(QPen(QColor(0, 60, 0), 1.5));
        p.setBrush(QColor(0, 60, 0));
        p.drawPolygon(head);
        p.setPen(QPen(fill, 2.8, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawPolygon(head);
    };
    arrow(20, QColor(235, 255, 235));
    arrow(200, QColor(235, 255, 235));
    return image;
}

// 24 x 24: a blue round sign with a question mark.
QImage helpIcon() {
    QImage image = transparentImage(24, 24);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient ball(QPointF(9, 8), 16);
    ball.setColorAt(0, SKY.lighter(115));
    ball.setColorAt(1, NAVY);
    p.setPen(QPen(QColor(0, 0, 70), 1));
    p.setBrush(ball);
    p.drawEllipse(QRectF(1.5, 1.5, 21, 21));
    p.setPen(Qt::white);
    p.setFont(font(17, QFont::Bold));
    p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

// ---------------------------------------------------------------------------------------------
// The page tree's strip: six 16 x 16 images on light grey (the transparent colour). Drawn
// without smoothing, so that no pixel blends with the grey and leaves a fringe on the tree.

QImage treeStrip() {
    QImage image(96, 16, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 192));
    QPainter p(&image);
    // The screen colour of each image: 0 the normal figure, 1 to 5 lit for the selected node.
    const QColor screens[6] = {QColor(0, 64, 128),  QColor(255, 220, 0), QColor(0, 220, 90),
                               QColor(0, 220, 255), QColor(255, 140, 0), QColor(255, 80, 200)};
    for (int i = 0; i < 6; ++i) {
        int x = i * 16;
        bool lit = i > 0;
        // The monitor on its stand.
        p.fillRect(x + 6, 1, 10, 8, QColor(40, 40, 48));
        p.fillRect(x + 7, 2, 8, 6, screens[i]);
        if (lit) p.fillRect(x + 8, 3, 3, 1, Qt::white); // a glint on the lit screen
        p.fillRect(x + 10, 9, 2, 2, QColor(64, 64, 72));
        p.fillRect(x + 7, 11, 8, 1, QColor(64, 64, 72));
        // The desk.
        p.fillRect(x + 0, 12, 16, 2, QColor(128, 72, 24));
        p.fillRect(x + 1, 14, 2, 2, QColor(96, 52, 16));
        p.fillRect(x + 13, 14, 2, 2, QColor(96, 52, 16));
        // The person: head and shoulders, facing the screen.
        QColor shirt = lit ? QColor(200, 0, 0) : QColor(0, 0, 160);
        p.fillRect(x + 1, 3, 4, 4, QColor(240, 190, 140));
        p.fillRect(x + 1, 2, 4, 1, QColor(90, 50, 20));
        p.fillRect(x + 0, 7, 6, 5, shirt);
        p.fillRect(x + 5, 9, 2, 1, QColor(240, 190, 140)); // hand on the keyboard
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
// Group pictures

// The common background: deep blue with a faint network of nodes, and the brand in the corner.
void drawBackground(QPainter& p, const QSize& size, QColor tint) {
    QLinearGradient back(0, 0, size.width(), size.height());
    back.setColorAt(0, DEEP);
    back.setColorAt(0.6, tint);
    back.setColorAt(1, DEEP);
    p.fillRect(QRect(QPoint(0, 0), size), back);
    // A constellation of hosts and links, deterministic.
    unsigned seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<unsigned>(range));
    };
    QPointF nodes[40];
    for (QPointF& n : nodes)
        n = QPointF(next(size.width()), next(size.height()));
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    for (int i = 0; i < 40; ++i)
        for (int j = i + 1; j < 40; ++j)
            if (QLineF(nodes[i], nodes[j]).length() < 120) p.drawLine(nodes[i], nodes[j]);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    for (const QPointF& n : nodes)
        p.drawEllipse(n, 2.5, 2.5);
    // A light band at the bottom with the brand line (the visible area is 634 x 466 or more).
    p.fillRect(QRect(0, size.height() - 34, size.width(), 34), QColor(0, 0, 40, 150));
    p.setPen(QColor(255, 255, 255, 170));
    p.setFont(font(12));
    p.drawText(QRect(16, size.height() - 34, 600, 30), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Orvelan  ·  proxy szerver adminisztrációs konzol"));
}

void drawHeading(QPainter& p, const QString& group, const QString& subtitle) {
    drawEmblem(p, 24, 22, 56);
    p.setPen(QColor(255, 255, 255, 150));
    p.setFont(font(13, QFont::Bold));
    p.drawText(QPointF(96, 38), QStringLiteral("ORVELAN"));
    p.setPen(Qt::white);
    p.setFont(font(30, QFont::Bold));
    p.drawText(QPointF(95, 72), group);
    p.setPen(QColor(AMBER));
    p.setFont(font(14, QFont::Normal, true));
    p.drawText(QPointF(97, 96), subtitle);
    p.setPen(QPen(QColor(AMBER), 2));
    p.drawLine(QPointF(24, 110), QPointF(610, 110));
}

// A list of (title, explanation) lines below the heading, in a box at (x, y) of width w.
int drawItems(QPainter& p, int x, int y, int w, const QList<QPair<QString, QString>>& items) {
    for (const auto& item : items) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(AMBER));
        p.drawEllipse(QPointF(x + 5, y + 9), 4, 4);
        p.setPen(Qt::white);
        p.setFont(font(15, QFont::Bold));
        p.drawText(QPointF(x + 18, y + 15), item.first);
        p.setPen(QColor(215, 225, 245));
        p.setFont(font(13));
        QRect text(x + 18, y + 21, w - 18, 40);
        QRect used;
        p.drawText(text, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, item.second, &used);
        y = used.bottom() + 12;
    }
    return y;
}

void drawHint(QPainter& p, const QSize& size, const QString& text) {
    QRect box(0, size.height() - 70, 620, 26);
    p.setPen(QColor(255, 255, 255, 200));
    p.setFont(font(12, QFont::Normal, true));
    p.drawText(box, Qt::AlignRight | Qt::AlignVCenter, text);
}

// A panel of glass on the right of a picture, for its illustration.
QRect illustrationPanel(QPainter& p) {
    QRect r(410, 130, 200, 250);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawRoundedRect(r, 12, 12);
    return r;
}

// A server rack with its status lights.
void drawServer(QPainter& p, QRect r) {
    p.setPen(QPen(QColor(10, 10, 20), 1.5));
    QLinearGradient metal(r.left(), 0, r.right(), 0);
    metal.setColorAt(0, QColor(70, 78, 96));
    metal.setColorAt(0.5, QColor(130, 140, 160));
    metal.setColorAt(1, QColor(60, 66, 84));
    p.setBrush(metal);
    p.drawRoundedRect(r, 6, 6);
    int unit = (r.height() - 16) / 4;
    for (int i = 0; i < 4; ++i) {
        QRect slot(r.left() + 8, r.top() + 8 + i * unit, r.width() - 16, unit - 6);
        p.setBrush(QColor(30, 34, 46));
        p.drawRoundedRect(slot, 3, 3);
        p.setPen(Qt::NoPen);
        p.setBrush(i == 2 ? QColor(AMBER) : QColor(60, 220, 90));
        p.drawEllipse(QPointF(slot.left() + 10, slot.center().y()), 3.5, 3.5);
        p.setBrush(QColor(80, 90, 110));
        for (int k = 0; k < 5; ++k)
            p.drawRect(slot.left() + 24 + k * 12, slot.center().y() - 4, 6, 8);
        p.setPen(QPen(QColor(10, 10, 20), 1.5));
    }
}

void drawMonitorWithSheet(QPainter& p, QRect r) {
    p.setPen(QPen(QColor(10, 10, 20), 1.5));
    p.setBrush(QColor(40, 44, 56));
    p.drawRoundedRect(r, 8, 8);
    QRect screen = r.adjusted(10, 10, -10, -10);
    p.setBrush(PAPER);
    p.drawRect(screen);
    int rowH = 18;
    p.setFont(font(11));
    const char* names[] = {"Kovács Éva",     "Szabó Péter", "Tóth Anikó", "Nagy Gábor",
                           "Horváth Zsófia", "Varga Ödön",  "Kiss Ildikó"};
    for (int i = 0; i * rowH + rowH <= screen.height() && i < 7; ++i) {
        QRect row(screen.left(), screen.top() + i * rowH, screen.width(), rowH);
        if (i == 2) p.fillRect(row, QColor(255, 226, 150));
        p.setPen(QColor(190, 196, 210));
        p.drawLine(row.bottomLeft(), row.bottomRight());
        p.setPen(QColor(0, 0, 180));
        p.drawText(row.adjusted(6, 0, 0, 0), Qt::AlignVCenter, QString::fromUtf8(names[i]));
        p.setPen(QColor(0, 140, 0));
        p.drawText(row.adjusted(0, 0, -6, 0), Qt::AlignVCenter | Qt::AlignRight,
                   QStringLiteral("P  M"));
    }
}

void drawBars(QPainter& p, QRect r, bool line) {
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.topLeft());
    const int values[] = {30, 45, 38, 62, 80, 71, 95, 58, 66, 88};
    int n = 10;
    qreal w = (r.width() - 10) / qreal(n);
    QPolygonF trend;
    for (int i = 0; i < n; ++i) {
        qreal h = (r.height() - 10) * values[i] / 100.0;
        QRectF bar(r.left() + 6 + i * w, r.bottom() - h, w - 5, h);
        QLinearGradient g(0, bar.top(), 0, bar.bottom());
        g.setColorAt(0, SKY);
        g.setColorAt(1, BLUE);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRect(bar);
        trend << QPointF(bar.center().x(), bar.top() - 6);
    }
    if (line) {
        p.setPen(QPen(QColor(AMBER), 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(trend);
        p.setBrush(QColor(AMBER));
        for (const QPointF& pt : trend)
            p.drawEllipse(pt, 3, 3);
    }
}

// A heading and its text in a list of drawItems().
using Item = QPair<QString, QString>;

// "Rendszer", also the start picture.
void drawSystemPicture(QPainter& p, const QSize& size) {
    drawBackground(p, size, QColor(20, 60, 130));
    drawHeading(p, QStringLiteral("Rendszer"),
                QStringLiteral("A proxy szerver állapota, naplói és a konzol beállításai"));
    drawItems(p, 30, 130, 360,
              {Item(QStringLiteral("LogOn"),
                    QStringLiteral("Belépés felhasználói vagy adminisztrátori jogosultsággal.")),
               Item(QStringLiteral("Hálózat"),
                    QStringLiteral("A három hálózati vonal forgalma másodpercenként, "
                                   "és a ping próbák.")),
               Item(QStringLiteral("Rendszer log, Deamon log"),
                    QStringLiteral("A szerver naplóinak utolsó sorai, frissíthetően.")),
               Item(QStringLiteral("Setup"),
                    QStringLiteral("Szervernevek, vonalsebességek, munkaidő és jelszavak."))});
    QRect panel = illustrationPanel(p);
    drawServer(p, panel.adjusted(40, 30, -40, -30));
    drawHint(p, size, QStringLiteral("Kattintson a képre: hogyan működik az Orvelan?  ›"));
}

// The partner of "Rendszer": how the console reaches the server.
void drawSystemPartner(QPainter& p, const QSize& size) {
    drawBackground(p, size, QColor(30, 70, 110));
    drawHeading(p, QStringLiteral("Hogyan működik?"),
                QStringLiteral("Konzol, proxy szerver és a felhasználók"));
    QRect consoleBox(40, 150, 150, 90), serverBox(250, 150, 150, 90), netBox(460, 150, 140, 90);
    auto box = [&](QRect r, const QString& title, const QString& text) {
        p.setPen(QPen(QColor(255, 255, 255, 120), 1.5));
        p.setBrush(QColor(255, 255, 255, 30));
        p.drawRoundedRect(r, 10, 10);
        p.setPen(Qt::white);
        p.setFont(font(15, QFont::Bold));
        p.drawText(r.adjusted(0, 10, 0, 0), Qt::AlignHCenter | Qt::AlignTop, title);
        p.setPen(QColor(215, 225, 245));
        p.setFont(font(12));
        p.drawText(r.adjusted(8, 36, -8, -4), Qt::AlignHCenter | Qt::TextWordWrap, text);
    };
    box(consoleBox, QStringLiteral("Orvelan"), QStringLiteral("ez a konzol, az Ön gépén"));
    box(serverBox, QStringLiteral("Proxy szerver"), QStringLiteral("vxd szolgáltatás, listák"));
    box(netBox, QStringLiteral("Internet"), QStringLiteral("a szűrt forgalom"));
    p.setPen(QPen(QColor(AMBER), 3));
    p.drawLine(consoleBox.right() + 6, 195, serverBox.left() - 6, 195);
    p.drawLine(serverBox.right() + 6, 195, netBox.left() - 6, 195);
    p.setBrush(QColor(AMBER));
    p.drawPolygon(QPolygon({QPoint(serverBox.left() - 6, 195), QPoint(serverBox.left() - 16, 189),
                            QPoint(serverBox.left() - 16, 201)}));
    p.drawPolygon(QPolygon({QPoint(netBox.left() - 6, 195), QPoint(netBox.left() - 16, 189),
                            QPoint(netBox.left() - 16, 201)}));
    p.setPen(QColor(AMBER));
    p.setFont(font(11, QFont::Bold));
    p.drawText(QRect(consoleBox.right(), 168, 60, 20), Qt::AlignCenter, QStringLiteral("ONC RPC"));
    drawItems(p, 40, 265, 560,
              {Item(QStringLiteral("Kiadás és visszavétel"),
                    QStringLiteral("A szerkesztők a szerver fájljait zárolva hívják be, "
                                   "mentéskor a proxy új beállításokat kap.")),
               Item(QStringLiteral("Két jogosultsági szint"),
                    QStringLiteral("A felhasználó csak megtekint, az adminisztrátor "
                                   "szerkeszt és ment."))});
    drawHint(p, size, QStringLiteral("‹  Kattintson a képre: vissza"));
}

// "Szerkesztök".
void drawEditorsPicture(QPainter& p, const QSize& size) {
    drawBackground(p, size, QColor(40, 50, 120));
    drawHeading(p, QStringLiteral("Szerkesztök"),
                QStringLiteral("Felhasználók, csoportok és URL listák"));
    drawItems(p, 30, 130, 360,
              {Item(QStringLiteral("Felh.-i csoport"),
                    QStringLiteral("Csoportok engedélyező vagy tiltó URL listával.")),
               Item(QStringLiteral("Felhasználók"),
                    QStringLiteral("Nevek, csoport, jogok (Proxy, Mail, Super), személyes "
                                   "adatok és jelszó.")),
               Item(QStringLiteral("URL kontroll"),
                    QStringLiteral("A kiválasztott csoport engedélyezett vagy tiltott "
                                   "címei.")),
               Item(QStringLiteral("Behívás, Mentés, Visszavon"),
                    QStringLiteral("Szerkesztés közben a fa zárolva van."))});
    QRect panel = illustrationPanel(p);
    drawMonitorWithSheet(p, panel.adjusted(14, 40, -14, -60));
}

// "Statisztikák".
void drawStatisticsPicture(QPainter& p, const QSize& size) {
    drawBackground(p, size, QColor(20, 80, 110));
    drawHeading(p, QStringLiteral("Statisztikák"),
                QStringLiteral("A proxy forgalma időszakonként, felhasználónként"));
    drawItems(p, 30, 130, 360,
              {Item(QStringLiteral("Szelekció"),
                    QStringLiteral("Időszak, felbontás, feldolgozás módja és szűkítés.")),
               Item(QStringLiteral("Táblázat"),
                    QStringLiteral("URL és site listák: ki, hányszor, mit látogatott.")),
               Item(QStringLiteral("Grafikon"),
                    QStringLiteral("Az adatforgalom byte-ban, időszakonként."))});
    QRect panel = illustrationPanel(p);
    drawBars(p, panel.adjusted(20, 30, -20, -30), true);
    drawHint(p, size, QStringLiteral("Kattintson a képre: egy lekérdezés lépései  ›"));
}

// The partner of "Statisztikák": the steps of a query.
void drawStatisticsPartner(QPainter& p, const QSize& size) {
    drawBackground(p, size, QColor(20, 90, 100));
    drawHeading(p, QStringLiteral("Egy lekérdezés"),
                QStringLiteral("Néhány kattintás a szelekciótól a grafikonig"));
    const QString steps[4] = {
        QStringLiteral("Válassza ki a kezdő és a záró dátumot, órát és percet."),
        QStringLiteral("Állítsa be a felbontást: 10 perc, óra, nap vagy hónap."),
        QStringLiteral("Forgalom: grafikon; URL vagy Site: táblázat."),
        QStringLiteral("Start! után a szerver kiszámolja, a konzol megmutatja.")};
    for (int i = 0; i < 4; ++i) {
        int y = 140 + i * 64;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(AMBER));
        p.drawEllipse(QPoint(56, y + 18), 18, 18);
        p.setPen(DEEP);
        p.setFont(font(18, QFont::Bold));
        p.drawText(QRect(38, y, 36, 36), Qt::AlignCenter, QString::number(i + 1));
        p.setPen(Qt::white);
        p.setFont(font(15));
        p.drawText(QRect(90, y, 520, 36), Qt::AlignVCenter | Qt::TextWordWrap, steps[i]);
    }
    drawHint(p, size, QStringLiteral("‹  Kattintson a képre: vissza"));
}

// The about picture (kept hidden by the console).
void drawAboutPicture(QPainter& p, const QSize& size) {
    drawBackground(p, size, QColor(30, 40, 90));
    drawEmblem(p, 256, 90, 128);
    p.setPen(Qt::white);
    p.setFont(font(40, QFont::Bold));
    p.drawText(QRect(0, 240, 640, 56), Qt::AlignCenter, QStringLiteral("Orvelan"));
    p.setPen(QColor(AMBER));
    p.setFont(font(16, QFont::Normal, true));
    p.drawText(QRect(0, 300, 640, 30), Qt::AlignCenter,
               QStringLiteral("Proxy szerver adminisztrációs konzol"));
    p.setPen(QColor(215, 225, 245));
    p.setFont(font(13));
    p.drawText(QRect(0, 336, 640, 60), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("Felhasználók, csoportok, URL listák, naplók és statisztikák\n"
                              "egy helyen, a szerver saját fájljain."));
}

// The group pictures: bitmap id, height and drawer, in the order they are written.
struct GroupPicture {
    int id;
    int height;
    void (*draw)(QPainter& p, const QSize& size);
};

const GroupPicture kGroupPictures[] = {
    {185, 470, drawSystemPicture},     {186, 470, drawEditorsPicture},
    {187, 470, drawStatisticsPicture}, {188, 470, drawSystemPartner},
    {189, 480, drawAboutPicture},      {190, 470, drawStatisticsPartner},
};

QImage groupPicture(const GroupPicture& picture) {
    QSize size(640, picture.height);
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    picture.draw(p, size);
    return image;
}

// 392 x 163: the logon banner.
QImage logonPicture() {
    QSize size(392, 163);
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient back(0, 0, 392, 163);
    back.setColorAt(0, DEEP);
    back.setColorAt(1, BLUE);
    p.fillRect(image.rect(), back);
    p.setPen(QPen(QColor(255, 255, 255, 25), 1));
    for (int x = -163; x < 392; x += 14)
        p.drawLine(x, 163, x + 163, 0);
    drawEmblem(p, 18, 24, 84);
    p.setPen(Qt::white);
    p.setFont(font(36, QFont::Bold));
    p.drawText(QPointF(118, 64), QStringLiteral("Orvelan"));
    p.setPen(QColor(AMBER));
    p.setFont(font(13, QFont::Normal, true));
    p.drawText(QPointF(120, 88), QStringLiteral("Proxy szerver adminisztráció"));
    p.setPen(QPen(QColor(AMBER), 2));
    p.drawLine(QPointF(120, 98), QPointF(370, 98));
    p.setPen(QColor(215, 225, 245));
    p.setFont(font(11));
    p.drawText(QRect(120, 104, 260, 40), Qt::TextWordWrap,
               QStringLiteral("Belépés jelszóval, felhasználói vagy adminisztrátori szinten."));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: orvelan_make_artwork DIR\n");
        return 2;
    }
    outDir = QDir(QString::fromLocal8Bit(argv[1]));
    if (!outDir.mkpath(QStringLiteral("."))) return 1;
    save(appIcon(32), QStringLiteral("128"));
    save(appIcon(256), QStringLiteral("128-256"));
    save(printIcon(), QStringLiteral("147"));
    save(refreshIcon(), QStringLiteral("150"));
    save(helpIcon(), QStringLiteral("180"));
    save(treeStrip(), QStringLiteral("178"));
    for (const GroupPicture& picture : kGroupPictures)
        save(groupPicture(picture), QString::number(picture.id));
    save(logonPicture(), QStringLiteral("169"));
    return failures == 0 ? 0 : 1;
}
