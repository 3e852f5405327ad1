#pragma once
// What the build-time painters share: the panel's palette and caption sizes, a folder of PNG
// files and the resource list naming them. Any file that cannot be written fails the build.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QColor>
#include <QImage>
#include <QStringList>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace picture_output {

inline const QColor kWhite(255, 255, 255);
inline const QColor kOrange(255, 171, 84);
inline const QColor kGrey(150, 150, 160);
inline const QColor kGreen(0, 214, 91);
inline const QColor kBlue(71, 119, 255);
// Language order: simplified Chinese (plain name), English, Russian, Vietnamese, traditional Chinese.
inline const char* const kPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};
// Pictures are painted at twice the size they are shown at, so the panel scales them down smoothly.
constexpr int kScale = 2;
// Caption sizes in pixels as shown: 10 is the least that reads at arm's length on the panel.
constexpr int kCaptionPixels = 12;
constexpr int kMinCaptionPixels = 10;

struct Output {
    const char* tool = "";
    QString dir;
    QStringList files;
};

inline Output& output()
{
    static Output o;
    return o;
}

inline void save(const QImage& image, const QString& name)
{
    const QString file = name + QStringLiteral(".png");
    if (!image.save(output().dir + QLatin1Char('/') + file, "PNG")) {
        fprintf(stderr, "%s: cannot write %s\n", output().tool, qPrintable(file));
        exit(1);
    }
    output().files << file;
}

inline QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The painter's main: `tool <output folder>`; paints, then lists the files in `qrcName`.
inline int run(int argc, char** argv, const char* tool, const QString& qrcName, const std::function<void()>& paint)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    output().tool = tool;
    if (argc != 2) {
        fprintf(stderr, "usage: %s <output folder>\n", tool);
        return 2;
    }
    output().dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(output().dir)) {
        fprintf(stderr, "%s: cannot create %s\n", tool, argv[1]);
        return 1;
    }
    paint();
    QFile qrc(output().dir + QLatin1Char('/') + qrcName);
    bool written = qrc.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    if (written) {
        QTextStream out(&qrc);
        out << "<RCC>\n  <qresource prefix=\"/png\">\n";
        for (const QString& file : output().files)
            out << "    <file>" << file << "</file>\n";
        out << "  </qresource>\n</RCC>\n";
        written = out.status() == QTextStream::Ok;
    }
    if (!written) {
        fprintf(stderr, "%s: cannot write the resource list\n", tool);
        return 1;
    }
    return 0;
}

}
