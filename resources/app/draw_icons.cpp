// Draws the images of resources/app/ (tool bar and tree images, the open-folder glyph, the
// window icon). Run by hand when a picture changes: kiv_draw_icons <folder>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {
const QColor FolderDark(0xA8, 0x78, 0x08), FolderBack(0xF2, 0xC2, 0x38),
    FolderFront(0xFF, 0xDD, 0x66), Blue(0x1F, 0x5F, 0xC8), BlueLight(0x5A, 0x9A, 0xF0),
    Red(0xD0, 0x20, 0x20), Outline(0x30, 0x30, 0x30);

QImage Canvas(int Size) {
    QImage I(Size, Size, QImage::Format_ARGB32_Premultiplied);
    I.fill(Qt::transparent);
    return I;
}

void Prepare(QPainter& P, int Size) {
    P.setRenderHint(QPainter::Antialiasing);
    P.scale(Size / 16.0, Size / 16.0);
}

void ClosedFolder(QPainter& P, const QColor& Back, const QColor& Front, const QColor& Line) {
    QPainterPath Tab;
    Tab.moveTo(1.5, 4.5);
    Tab.lineTo(1.5, 2.5);
    Tab.lineTo(6, 2.5);
    Tab.lineTo(7.5, 4.5);
    Tab.closeSubpath();
    P.setPen(QPen(Line, 1));
    P.setBrush(Back);
    P.drawPath(Tab);
    P.setBrush(Front);
    P.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 0.8, 0.8);
}

void OpenFolder(QPainter& P, const QColor& Back, const QColor& Front, const QColor& Line) {
    QPainterPath Body;
    Body.moveTo(1.5, 13.5);
    Body.lineTo(1.5, 2.5);
    Body.lineTo(5.5, 2.5);
    Body.lineTo(7, 4.5);
    Body.lineTo(12.5, 4.5);
    Body.lineTo(12.5, 7);
    P.setPen(QPen(Line, 1));
    P.setBrush(Back);
    P.drawPath(Body);
    QPainterPath Flap;
    Flap.moveTo(1.5, 13.5);
    Flap.lineTo(4, 7.5);
    Flap.lineTo(15, 7.5);
    Flap.lineTo(12.5, 13.5);
    Flap.closeSubpath();
    P.setBrush(Front);
    P.drawPath(Flap);
}

// A thick arrow pointing right (or left), filled blue.
void Arrow(QPainter& P, bool Right) {
    QPainterPath A;
    A.moveTo(1.5, 6);
    A.lineTo(8, 6);
    A.lineTo(8, 2.5);
    A.lineTo(14.5, 8.5);
    A.lineTo(8, 14.5);
    A.lineTo(8, 11);
    A.lineTo(1.5, 11);
    A.closeSubpath();
    if (!Right) {
        QTransform Mirror(-1, 0, 0, 1, 16, 0);
        A = Mirror.map(A);
    }
    QLinearGradient G(0, 2, 0, 15);
    G.setColorAt(0, BlueLight);
    G.setColorAt(1, Blue);
    P.setPen(QPen(QColor(0x10, 0x30, 0x80), 1));
    P.setBrush(G);
    P.drawPath(A);
}

void Badge(QPainter& P, QPointF Centre, bool Plus) {
    P.setPen(QPen(Qt::white, 4.2, Qt::SolidLine, Qt::SquareCap));
    P.drawLine(Centre - QPointF(2.6, 0), Centre + QPointF(2.6, 0));
    if (Plus)
        P.drawLine(Centre - QPointF(0, 2.6), Centre + QPointF(0, 2.6));
    P.setPen(QPen(Red, 2.2, Qt::SolidLine, Qt::SquareCap));
    P.drawLine(Centre - QPointF(2.5, 0), Centre + QPointF(2.5, 0));
    if (Plus)
        P.drawLine(Centre - QPointF(0, 2.5), Centre + QPointF(0, 2.5));
}

QImage Door(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    P.setPen(QPen(QColor(0x50, 0x50, 0x50), 1));
    P.setBrush(QColor(0xE8, 0xE8, 0xE8));
    P.drawRect(QRectF(3.5, 1.5, 10, 13)); // frame
    QPainterPath Leaf;                    // the open door leaf
    Leaf.moveTo(3.5, 1.5);
    Leaf.lineTo(9.5, 3.5);
    Leaf.lineTo(9.5, 15.5);
    Leaf.lineTo(3.5, 14.5);
    Leaf.closeSubpath();
    QLinearGradient G(3, 0, 10, 0);
    G.setColorAt(0, QColor(0xC0, 0x7A, 0x3A));
    G.setColorAt(1, QColor(0x8A, 0x4E, 0x1E));
    P.setPen(QPen(QColor(0x5A, 0x30, 0x10), 1));
    P.setBrush(G);
    P.drawPath(Leaf);
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(0xF0, 0xD0, 0x40));
    P.drawEllipse(QPointF(8.2, 9), 0.9, 0.9);
    return I;
}

QImage NewProject(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    Arrow(P, true);
    Badge(P, QPointF(4.5, 4.5), true);
    return I;
}

QImage DeleteEntry(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    Arrow(P, false);
    Badge(P, QPointF(11.5, 4.5), false);
    return I;
}

QImage Search(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    P.setPen(QPen(Red, 2.4, Qt::SolidLine, Qt::FlatCap));
    P.setBrush(Qt::NoBrush);
    P.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 280 * 16);
    QPainterPath Head; // the arrow head at the open end of the circle
    Head.moveTo(7.0, 0.3);
    Head.lineTo(11.2, 2.9);
    Head.lineTo(7.0, 5.9);
    Head.closeSubpath();
    P.setPen(Qt::NoPen);
    P.setBrush(Red);
    P.drawPath(Head);
    return I;
}

QImage Folder(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    ClosedFolder(P, FolderBack, FolderFront, FolderDark);
    return I;
}

QImage FolderOpen(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    OpenFolder(P, FolderBack, FolderFront, FolderDark);
    return I;
}

QImage GreyOpenFolder(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    OpenFolder(P, Qt::transparent, Qt::transparent, QColor(0x90, 0x90, 0x90));
    return I;
}

QImage Book(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    const QColor Cover(0x1E, 0x6E, 0x3A);
    QPainterPath Covers;
    Covers.moveTo(0.5, 4);
    Covers.lineTo(8, 5.5);
    Covers.lineTo(15.5, 4);
    Covers.lineTo(15.5, 13.5);
    Covers.lineTo(8, 15);
    Covers.lineTo(0.5, 13.5);
    Covers.closeSubpath();
    P.setPen(QPen(Cover.darker(140), 1));
    P.setBrush(Cover);
    P.drawPath(Covers);
    P.setPen(QPen(QColor(0x70, 0x70, 0x70), 0.8));
    P.setBrush(Qt::white);
    for (int Side = 0; Side < 2; ++Side) {
        QPainterPath Page;
        const double Outer = Side == 0 ? 1.8 : 14.2;
        Page.moveTo(8, 4.5);
        Page.cubicTo(6 + Side * 4, 2.5, (Outer + 8) / 2, 2.2, Outer, 2.5);
        Page.lineTo(Outer, 12.3);
        Page.cubicTo((Outer + 8) / 2, 12, 6 + Side * 4, 12.2, 8, 14);
        Page.closeSubpath();
        P.drawPath(Page);
    }
    P.setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 0.6));
    for (int Row = 0; Row < 3; ++Row) {
        const double Y = 5.5 + Row * 2.2;
        P.drawLine(QPointF(3, Y), QPointF(6.5, Y + 0.4));
        P.drawLine(QPointF(9.5, Y + 0.4), QPointF(13, Y));
    }
    return I;
}

QImage Globe(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    QRadialGradient Sea(QPointF(6, 5.5), 9);
    Sea.setColorAt(0, QColor(0x8C, 0xC8, 0xFF));
    Sea.setColorAt(1, QColor(0x1A, 0x5C, 0xC0));
    P.setPen(QPen(QColor(0x10, 0x3A, 0x80), 1));
    P.setBrush(Sea);
    P.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(0x3C, 0xA0, 0x3C));
    QPainterPath Land;
    Land.moveTo(4, 4);
    Land.cubicTo(6, 2.6, 8, 3.5, 7.5, 5.5);
    Land.cubicTo(7, 7.5, 5.2, 7, 5.5, 9.5);
    Land.cubicTo(5.8, 11, 4, 11, 3.3, 9);
    Land.cubicTo(2.5, 7, 2.8, 5, 4, 4);
    P.drawPath(Land);
    QPainterPath Land2;
    Land2.moveTo(9.5, 7.5);
    Land2.cubicTo(11.5, 6.5, 13.5, 7.5, 13, 9.5);
    Land2.cubicTo(12.5, 12, 10.5, 13, 9.8, 11);
    Land2.cubicTo(9.3, 9.8, 8.5, 8.5, 9.5, 7.5);
    P.drawPath(Land2);
    P.setPen(QPen(QColor(255, 255, 255, 110), 0.6));
    P.setBrush(Qt::NoBrush);
    P.drawEllipse(QRectF(5, 1.5, 6, 13));
    P.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
    return I;
}

// The window icon: a folder with two circling arrows (working copies kept in step).
QImage WindowIcon(int S) {
    QImage I = Canvas(S);
    QPainter P(&I);
    Prepare(P, S);
    ClosedFolder(P, FolderBack, FolderFront, FolderDark);
    const QPointF C(10.5, 10.5);
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 255, 255, 230));
    P.drawEllipse(C, 5.2, 5.2);
    P.setBrush(Qt::NoBrush);
    for (int Half = 0; Half < 2; ++Half) {
        const QColor Colour = Half == 0 ? Blue : QColor(0x20, 0x90, 0x40);
        P.setPen(QPen(Colour, 1.5, Qt::SolidLine, Qt::FlatCap));
        P.drawArc(QRectF(C.x() - 3.5, C.y() - 3.5, 7, 7), (Half * 180 + 20) * 16, 130 * 16);
        const double A = (Half * 180 + 150) * M_PI / 180;
        const QPointF End(C.x() + 3.5 * std::cos(A), C.y() - 3.5 * std::sin(A));
        const QPointF Dir(-std::sin(A), -std::cos(A)); // tangent, direction of travel
        const QPointF Norm(std::cos(A), -std::sin(A));
        QPainterPath Head;
        Head.moveTo(End + Dir * 1.8);
        Head.lineTo(End + Norm * 1.6);
        Head.lineTo(End - Norm * 1.6);
        Head.closeSubpath();
        P.setPen(Qt::NoPen);
        P.setBrush(Colour);
        P.drawPath(Head);
        P.setBrush(Qt::NoBrush);
    }
    return I;
}
} // namespace

int main(int argc, char** argv) {
    QGuiApplication App(argc, argv);
    const QString Folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    struct Entry {
        const char* Name;
        std::function<QImage(int)> Draw;
        int Size;
    };
    const Entry Entries[] = {
        {"door", Door, 16},
        {"newproject", NewProject, 16},
        {"search", Search, 16},
        {"folder", ::Folder, 16},
        {"folderopen", FolderOpen, 16},
        {"book", Book, 16},
        {"delete", DeleteEntry, 16},
        {"globe", Globe, 16},
        {"openfolder", FolderOpen, 16},
        {"openfolder_disabled", GreyOpenFolder, 16},
        {"kivSubversion", WindowIcon, 64},
        {"kivSubversion32", WindowIcon, 32},
        {"door@2x", Door, 32},
        {"newproject@2x", NewProject, 32},
        {"search@2x", Search, 32},
        {"folder@2x", ::Folder, 32},
        {"folderopen@2x", FolderOpen, 32},
        {"book@2x", Book, 32},
        {"delete@2x", DeleteEntry, 32},
        {"globe@2x", Globe, 32},
    };
    int Failures = 0;
    for (const Entry& E : Entries) {
        const QString Path = Folder + QLatin1Char('/') + QLatin1String(E.Name) + ".png";
        if (!E.Draw(E.Size).save(Path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
            ++Failures;
        }
    }
    return Failures ? 1 : 0;
}
