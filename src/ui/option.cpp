#include "ui/option.h"

#include "base/global.h"
#include "ui/linkoption.h"
#include "ui/outputset.h"
#include "ui/pagenav.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/pages_settings/test_chart.h"
#include "ui/pictures.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

QPointer<Option> g_option;

// The menu pictures are a resource of their own in the static core library; naming its
// initialiser pulls it in.
static void initMenuPictureResources()
{
    Q_INIT_RESOURCE(vyr_menu_pictures);
}

void initMenuPictures()
{
    static bool done = false;
    if (!done) {
        initMenuPictureResources();
        done = true;
    }
    Pictures::init();
}

namespace {

struct EntryPicture {
    const char* name;
    int width[5]; // shown width per language column, 60 high
};

const EntryPicture kEntries[8] = {
    {"output_set", {55, 75, 55, 55, 55}},    {"input_cut", {55, 70, 70, 70, 55}},
    {"image_layout", {55, 70, 55, 55, 55}},  {"link_set", {55, 70, 70, 70, 55}},
    {"image_quality", {55, 75, 55, 55, 55}}, {"test_chart", {55, 55, 55, 55, 55}},
    {"smart_mapping", {55, 55, 55, 55, 55}}, {"AdvanceButton", {55, 54, 70, 54, 55}},
};

QString entryPicture(int i, int language)
{
    if (i == 7 && languageColumn(language) == 1)
        return QStringLiteral(":/png/en_advance_option.png");
    return Pictures::lang(kEntries[i].name, languageColumn(language));
}

QPushButton* entryButton(QWidget* page, const char* name, int x, int y)
{
    auto* b = new QPushButton(page);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, 70, 80);
    QFont f = b->font();
    f.setPointSize(12);
    b->setFont(f);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    return b;
}

}

void placeNotes(QWidget* page, QLabel** ok, QLabel** back)
{
    initMenuPictures();
    auto make = [page](const char* name, int x, int w, const char* picture) {
        auto* l = new QLabel(page);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(x, 220, w, 17);
        l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
        l->setPixmap(QPixmap(QLatin1String(picture)).scaled(w, 17, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return l;
    };
    *ok = make("label_note_OK", 105, 51, ":/png/OK_Enter.png");
    *back = make("label_note_back", 176, 56, ":/png/back_return.png");
}

Option::Option(QWidget* parent)
    : VyrPage(5, "Option", UiText::TitleOption, parent)
{
    initMenuPictures();
    output_set = entryButton(this, "output_set", 10, 47);
    input_cut = entryButton(this, "input_cut", 87, 47);
    image_layout = entryButton(this, "image_layout", 163, 47);
    link_set = entryButton(this, "link_set", 240, 47);
    image_quality = entryButton(this, "image_quality", 10, 137);
    test_chart = entryButton(this, "test_chart", 87, 137);
    smart_mapping = entryButton(this, "smart_mapping", 163, 137);
    AdvanceButton = entryButton(this, "AdvanceButton", 240, 137);
    smart_mapping->setEnabled(false); // taps do not reach it; OK still opens the page
    placeNotes(this, &label_note_OK, &label_note_back);
    style_normal = QStringLiteral(
        "background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    style_focused = QStringLiteral("background-color: rgb(33, 36, 53); border:2px solid "
                                   "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    menulist = {output_set, input_cut, image_layout, link_set, image_quality, test_chart, smart_mapping, AdvanceButton};
    connect(output_set, &QPushButton::clicked, this, &Option::on_output_set_clicked);
    connect(input_cut, &QPushButton::clicked, this, &Option::on_input_cut_clicked);
    connect(image_layout, &QPushButton::clicked, this, &Option::on_image_layout_clicked);
    connect(link_set, &QPushButton::clicked, this, &Option::on_link_set_clicked);
    connect(image_quality, &QPushButton::clicked, this, &Option::on_image_quality_clicked);
    connect(test_chart, &QPushButton::clicked, this, &Option::on_test_chart_clicked);
    connect(smart_mapping, &QPushButton::clicked, this, &Option::on_smart_mapping_clicked);
    connect(AdvanceButton, &QPushButton::clicked, this, &Option::on_AdvanceButton_clicked);
    menulist_init();
    language_changed();
}

void Option::menulist_init()
{
    setFocusList(std::vector<QWidget*>(menulist.begin(), menulist.end()));
}

void Option::language_changed()
{
    VyrPage::language_changed();
    const int language = g_language.load();
    for (int i = 0; i < 8; ++i) {
        QPushButton* b = menulist[size_t(i)];
        b->setIcon(QIcon(entryPicture(i, language)));
        b->setIconSize(QSize(kEntries[i].width[languageColumn(language)], 60));
    }
    smart_mapping->setStyleSheet(focus_widget == smart_mapping ? style_focused : style_normal);
}

void Option::okReleased()
{
    // By index, not by click(): the disabled mapping entry still opens on OK.
    switch (ui_select) {
    case 0: on_output_set_clicked(); break;
    case 1: on_input_cut_clicked(); break;
    case 2: on_image_layout_clicked(); break;
    case 3: on_link_set_clicked(); break;
    case 4: on_image_quality_clicked(); break;
    case 5: on_test_chart_clicked(); break;
    case 6: on_smart_mapping_clicked(); break;
    case 7: on_AdvanceButton_clicked(); break;
    default: break;
    }
}

void Option::on_output_set_clicked() { PageNav::openModal(new OutputSet(nullptr)); }
void Option::on_input_cut_clicked() { PageNav::openModal(new InputCut(nullptr)); }
void Option::on_image_layout_clicked() { PageNav::openModal(new ImageLayout(nullptr)); }
void Option::on_link_set_clicked() { PageNav::openModal(new LinkOption(nullptr)); }
void Option::on_image_quality_clicked() { PageNav::openModal(new ImageQuality(nullptr)); }
void Option::on_test_chart_clicked() { PageNav::openModal(new ::test_chart(nullptr)); }
void Option::on_smart_mapping_clicked() { PageNav::open(PageNav::kSmartMappingPage); }
void Option::on_AdvanceButton_clicked() { PageNav::openModal(new AdvancedOption(nullptr)); }

void Option::requestLeave()
{
    QMetaObject::invokeMethod(
        qApp,
        [] {
            if (g_option && g_page_focus.load() == 5)
                g_option->slot_Button_back_clicked();
        },
        Qt::QueuedConnection);
}

void Option::requestRetext()
{
    QMetaObject::invokeMethod(
        qApp,
        [] {
            if (g_option && g_page_focus.load() == 5)
                g_option->language_changed();
        },
        Qt::QueuedConnection);
}
