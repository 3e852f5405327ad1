#include "ui/pages_settings/factoryage.h"

#include "base/global.h"
#include "ui/pagenav.h"

#include <QLabel>

QPointer<factoryage> g_factoryage;

factoryage::factoryage(QWidget* parent)
    : VyrPage(23, "factoryage", UiText::TitleFactoryage, parent)
{
    label_last = new QLabel(this);
    label_last->setGeometry(10, 50, 300, 20);
    label_last->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    QFont font = label_last->font();
    font.setPixelSize(12);
    label_last->setFont(font);
    update_agelog();
}

void factoryage::slot_Button_back_clicked()
{
    // The advanced menu is re-texted only when the language really changed here.
    PageNav::back(this, PageNav::languageChanged());
}

void factoryage::update_agelog()
{
    label_last->setText(factoryage_log.isEmpty() ? QString() : factoryage_log.last());
}
