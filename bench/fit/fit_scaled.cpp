// Writes the picture exactly as 'fit' scales it, before quantising, as a binary PPM:
// the bench compares it with ImageMagick's Lanczos and a supersampled reference.
#include "media/Fit.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: fit_scaled IN WIDTH HEIGHT OUT.ppm\n");
        return 2;
    }
    tess::media::PhoneProfile phone;
    phone.id = QStringLiteral("bench");
    phone.screen = phone.wallpaper = QSize(args[2].toInt(), args[3].toInt());
    const tess::media::ScaledPicture s = tess::media::scalePicture(args[1], phone, {});
    if (!s.ok) {
        std::fprintf(stderr, "fit_scaled: %s\n", qPrintable(s.reason));
        return 1;
    }
    QFile out(args[4]);
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    out.write(
        QStringLiteral("P6\n%1 %2\n255\n").arg(s.size.width()).arg(s.size.height()).toLatin1());
    out.write(s.rgb);
    return out.error() == QFile::NoError ? 0 : 1;
}
