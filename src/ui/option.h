#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

// Settings menu (code 5). So far its frame in the page navigation; the entries come with the menu itself.
class Option : public VyrPage {
    Q_OBJECT
public:
    explicit Option(QWidget* parent = nullptr);
};

extern QPointer<Option> g_option;
