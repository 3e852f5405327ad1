// Every picture the code names is in the compiled-in resource tree, in every language it needs.
#include "ui/picture_sizes.h"
#include "ui/pictures.h"
#include "ui/texts.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <gtest/gtest.h>

namespace {
// The paths and language pictures named in the program's sources.
void scanSources(QSet<QString>* paths, QSet<QString>* languagePictures)
{
    const QRegularExpression literal(QStringLiteral("\":/png/([A-Za-z0-9_]+\\.png)\""));
    const QRegularExpression lang(QStringLiteral("Pictures::lang\\(\\s*\"([A-Za-z0-9_]+)\""));
    const QRegularExpression langChoice(QStringLiteral("Pictures::lang\\([^;]*\\?\\s*\"([A-Za-z0-9_]+)\"\\s*:\\s*\"([A-Za-z0-9_]+)\""));
    const QRegularExpression picture(QStringLiteral("setToolPicture\\([^;]*?\"([A-Za-z0-9_]+)\"(?:\\s*:\\s*\"([A-Za-z0-9_]+)\")?"));
    QDirIterator it(QStringLiteral(VYR_SOURCE_DIR "/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (auto m = literal.globalMatch(text); m.hasNext();)
            paths->insert(QStringLiteral(":/png/") + m.next().captured(1));
        for (const QRegularExpression* re : {&lang, &langChoice, &picture})
            for (auto m = re->globalMatch(text); m.hasNext();) {
                const auto match = m.next();
                for (int i = 1; i <= match.lastCapturedIndex(); ++i)
                    if (!match.captured(i).isEmpty())
                        languagePictures->insert(match.captured(i));
            }
    }
}
}

TEST(Pictures, EveryPathTheCodeUsesExists)
{
    Pictures::init();
    QSet<QString> paths, languagePictures;
    scanSources(&paths, &languagePictures);
    // The root menu, its tools, the pop-up and the home screen name at least these.
    EXPECT_GE(paths.size(), 10);
    EXPECT_GE(languagePictures.size(), 12);
    for (const QString& path : paths) {
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        EXPECT_FALSE(QImage(path).isNull()) << path.toStdString();
    }
    for (const QString& name : languagePictures)
        for (int language = 0; language < 5; ++language) {
            const QString path = Pictures::lang(name.toLatin1().constData(), language);
            EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        }
}

TEST(Pictures, LanguagePrefixesAndTheEnglishFallback)
{
    EXPECT_EQ(Pictures::lang("option", 0), QStringLiteral(":/png/option.png"));
    EXPECT_EQ(Pictures::lang("option", 1), QStringLiteral(":/png/en_option.png"));
    EXPECT_EQ(Pictures::lang("option", 2), QStringLiteral(":/png/ru_option.png"));
    EXPECT_EQ(Pictures::lang("option", 3), QStringLiteral(":/png/vn_option.png"));
    EXPECT_EQ(Pictures::lang("option", 4), QStringLiteral(":/png/tn_option.png"));
    EXPECT_EQ(Pictures::lang("option", 7), QStringLiteral(":/png/en_option.png"));
    EXPECT_EQ(Pictures::lang("option", 255), QStringLiteral(":/png/en_option.png"));
}

TEST(Pictures, CaptionsAreWholeAndReadableAtTheSizeShown)
{
    // The caption is the lowest band of painted rows (gaps of up to two rows belong to it: the
    // dots below Vietnamese vowels); a 10 px font gives capitals (and CJK glyphs) of at least
    // 7 px. Ink in the outer columns would mean a clipped caption.
    Pictures::init();
    const char* const menu[] = {"machinestate", "inputchoose", "custommode", "option"};
    const char* const tools[] = {"closeled", "uncloseled", "slience", "unslience", "call", "uncall", "save", "unsave"};
    auto check = [](const char* name, QSize shown) {
        for (int language = 0; language < 5; ++language) {
            const QImage image = QImage(Pictures::lang(name, language))
                                     .scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                     .convertToFormat(QImage::Format_ARGB32);
            ASSERT_EQ(image.size(), shown);
            auto inked = [&](int x, int y) { return qAlpha(image.pixel(x, y)) > 0x40; };
            auto rowInked = [&](int y) {
                for (int x = 0; x < image.width(); ++x)
                    if (inked(x, y))
                        return true;
                return false;
            };
            int bottom = image.height() - 1;
            while (bottom > 0 && !rowInked(bottom))
                --bottom;
            int top = bottom;
            while (top > 2 && (rowInked(top - 1) || rowInked(top - 2) || rowInked(top - 3)))
                --top;
            EXPECT_GE(bottom - top + 1, 7) << name << " " << language;
            for (int y = top; y <= bottom; ++y)
                EXPECT_FALSE(inked(0, y) || inked(image.width() - 1, y)) << name << " " << language << " row " << y;
        }
    };
    for (const char* name : menu)
        check(name, QSize(PictureSize::kMenuWidth, PictureSize::kMenuHeight));
    for (const char* name : tools)
        check(name, QSize(PictureSize::kToolWidth, PictureSize::kToolHeight));
}

TEST(Texts, UnknownLanguagesShowEnglish)
{
    EXPECT_EQ(uiText(UiText::BarRecall, 7), QStringLiteral("User mode invocation"));
    EXPECT_EQ(uiText(UiText::BarStore, 1), QStringLiteral("User mode save"));
    EXPECT_EQ(uiText(UiText::TitleOutputSet, 200), QStringLiteral("Output Seeting"));
    for (int id = 0; id < int(UiText::Count); ++id)
        for (int language = 0; language < 5; ++language)
            EXPECT_FALSE(uiText(UiText(id), language).isEmpty()) << id << " " << language;
}
