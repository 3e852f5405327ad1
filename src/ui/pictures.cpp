#include "ui/pictures.h"

#include "base/global.h"

#include <QDir>

// The resource object lives in the static core library; naming its initialiser pulls it into
// every program that shows a picture.
static void initPictureResources()
{
    Q_INIT_RESOURCE(vyr_pictures);
}

namespace Pictures {

void init()
{
    static bool done = false;
    if (!done) {
        initPictureResources();
        done = true;
    }
}

QString prefix(int language)
{
    switch (language) {
    case 0:
        return QString();
    case 2:
        return QStringLiteral("ru_");
    case 3:
        return QStringLiteral("vn_");
    case 4:
        return QStringLiteral("tn_");
    default:
        return QStringLiteral("en_");
    }
}

QString lang(const char* name, int language)
{
    return QStringLiteral(":/png/") + prefix(language) + QLatin1String(name) + QStringLiteral(".png");
}

QString lang(const char* name)
{
    return lang(name, g_language.load());
}

}
