#pragma once
// What the build-time painters share: a folder of PNG files and the resource list naming them.
// Any file that cannot be written fails the build.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace picture_output {

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
