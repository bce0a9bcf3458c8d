// Renders the scalable desktop icon into the hicolor PNG sizes beside it, so the PNGs never
// drift from the SVG. Run by hand when the SVG changes; the PNGs are committed, so neither the
// build nor the package needs an SVG renderer:
//   kiv_render_icons ICON.svg OUTPUT_FOLDER   (writes OUTPUT_FOLDER/NxN/apps/NAME.png)
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication App(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kiv_render_icons ICON.svg OUTPUT_FOLDER\n");
        return 2;
    }
    const QString Svg = QString::fromLocal8Bit(argv[1]);
    const QString Out = QString::fromLocal8Bit(argv[2]);
    QSvgRenderer Renderer(Svg);
    if (!Renderer.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString Name = QFileInfo(Svg).completeBaseName() + QStringLiteral(".png");
    int Failures = 0;
    for (const int Size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage Image(Size, Size, QImage::Format_ARGB32_Premultiplied);
        Image.fill(Qt::transparent);
        {
            QPainter P(&Image);
            P.setRenderHint(QPainter::Antialiasing);
            Renderer.render(&P, QRectF(0, 0, Size, Size));
        }
        const QString Folder = QStringLiteral("%1/%2x%2/apps").arg(Out).arg(Size);
        const QString Path = Folder + QLatin1Char('/') + Name;
        if (!QDir().mkpath(Folder) || !Image.save(Path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
            ++Failures;
        }
    }
    return Failures ? 1 : 0;
}
