#pragma once
#include "ui/texts.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

class QLabel;

// Shape shared by the front panel's dialog pages: 320x240, a title, a focus list that left and
// right walk with wrap-around, OK on the focused entry, BACK and MODE through PageNav. Presses
// only log, so QDialog's own Escape and Enter handling can never close a page behind PageNav.
class VyrPage : public QDialog {
    Q_OBJECT
public:
    VyrPage(int code, const char* pageName, UiText title, QWidget* parent);
    int pageCode() const { return code_; }
    const char* pageName() const { return name_; }
    virtual void language_changed();   // every text of the page in g_language
    virtual void syncUpdate(int code); // refresh while on top: re-text after a language change
    const std::vector<QWidget*>& focusList() const { return focus_list; } // what left and right walk
    uint8_t ui_select = 0;

public Q_SLOTS:
    virtual void slot_Button_back_clicked(); // the back sequence

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    virtual void okReleased();   // acts on the focused entry
    void setFocusList(const std::vector<QWidget*>& entries); // entry 0 focused
    void moveFocus(bool right);

    QLabel* label_title;
    QWidget* focus_widget = nullptr;
    std::vector<QWidget*> focus_list;
    QString style_focused;
    QString style_normal;

private:
    int code_;
    const char* name_;
    UiText title_;
};
