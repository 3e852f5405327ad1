#include "ui/numberkeyboard.h"

#include "ui/inputtexts.h"
#include "ui/panelkeys.h"
#include "ui/topwindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QtDebug>

QPointer<NumberKeyboard> g_numberkeyboard;
QPointer<QLineEdit> g_lineedit;

namespace {
constexpr int kKeys = 14;
constexpr int kDigitZero = 9;
constexpr int kClear = 10;
constexpr int kErase = 11;
constexpr int kCancel = 12;
constexpr int kOk = 13;
const QString kRefusedStyle = QStringLiteral("background-color: rgb(255, 255, 255);border:2px solid rgb(230, 40, 40);");
const QString kValueStyle = QStringLiteral("background-color: rgb(255, 255, 255);");
// The focused key, whichever it is, is filled with the panel's dark face in the orange focus
// frame: an orange line alone reads at under 2:1 on the white keys and the grey keypad, the dark
// face at 3.9:1 or better against the white and blue keys and the keypad around them.
const QString kFocusedKey = QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:2px solid rgb(255,171,84);");

// The erase picture in white, for the dark face of the focused key.
QIcon lightIcon(const QString& path)
{
    QPixmap pixmap(path);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), Qt::white);
    painter.end();
    return QIcon(pixmap);
}
}

My_lineEdit::My_lineEdit(QWidget* parent)
    : QLineEdit(parent)
{
}

void My_lineEdit::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT send_show(text());
    QLineEdit::mousePressEvent(event);
}

NumberKeyboard::NumberKeyboard(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint)
    , style_key(QStringLiteral("background-color: rgb(255, 255, 255);border:1px ;"))
    , style_key_focused(kFocusedKey)
    , style_ok(QStringLiteral("background-color: rgb(71, 119, 255);border:1px ;"))
    , style_ok_focused(kFocusedKey)
{
    setObjectName(QStringLiteral("NumberKeyboard"));
    setFixedSize(160, 240);
    setStyleSheet(QStringLiteral("background-color:rgb(114, 133, 154)"));
    QFont font = this->font();
    font.setPointSize(10);
    setFont(font);
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(10, 14, 44, 22); // room for a 10-point line
    label->setAlignment(Qt::AlignCenter);
    lineEdit = new QLineEdit(this);
    lineEdit->setObjectName(QStringLiteral("lineEdit"));
    lineEdit->setGeometry(64, 10, 89, 30);
    lineEdit->setStyleSheet(kValueStyle);
    lineEdit->setFocusPolicy(Qt::NoFocus);
    lineEdit->setReadOnly(true);
    // In the gap between the value and the first row of keys; digits only, so no translation.
    label_range = new QLabel(this);
    label_range->setObjectName(QStringLiteral("label_range"));
    label_range->setGeometry(0, 38, 160, 13);
    label_range->setAlignment(Qt::AlignCenter);
    QFont small = font;
    small.setPixelSize(10);
    label_range->setFont(small);
    label_range->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);background: transparent;")); // 5.5:1 on the keypad
    label_range->hide();
    const char* const names[kKeys] = {"Button1", "Button2", "Button3", "Button4", "Button5", "Button6", "Button7",
                                      "Button8", "Button9", "Button0", "ButtonC", "ButtonX", "Button_close", "Button_ok"};
    for (int i = 0; i < kKeys; ++i) {
        auto* b = new QPushButton(this);
        b->setObjectName(QLatin1String(names[i]));
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setDefault(false);
        if (i < kCancel) {
            const int row = i / 3;
            const int column = i % 3;
            b->setGeometry(10 + 50 * column, 50 + 40 * row, 40, 30);
        }
        focus_list.push_back(b);
    }
    for (int i = 0; i < kDigitZero; ++i)
        focus_list[i]->setText(QString::number(i + 1));
    focus_list[kDigitZero]->setText(QStringLiteral("0"));
    focus_list[kClear]->setText(QStringLiteral("C"));
    erase_icon = QIcon(QStringLiteral(":/png/delete.png"));
    erase_icon_focused = lightIcon(QStringLiteral(":/png/delete.png"));
    focus_list[kErase]->setIcon(erase_icon);
    focus_list[kErase]->setIconSize(QSize(20, 20));
    // Wide enough for the longest cancel word at this size.
    focus_list[kCancel]->setGeometry(5, 205, 73, 30);
    focus_list[kOk]->setGeometry(82, 205, 73, 30);
    // The first key holds the focus from the first opening on, and shows it: an OK meant for the
    // value must not type a 1 unseen.
    for (int i = 0; i < kKeys; ++i)
        setKeyStyle(i, i == 0);
    focus_widget = focus_list[0];
    // Digits are typed with the keys only; C, erase, cancel and OK also answer taps.
    connect(focus_list[kClear], &QPushButton::clicked, this, &NumberKeyboard::on_ButtonC_clicked);
    connect(focus_list[kErase], &QPushButton::clicked, this, &NumberKeyboard::on_ButtonX_clicked);
    connect(focus_list[kCancel], &QPushButton::clicked, this, &NumberKeyboard::on_Button_close_clicked);
    connect(focus_list[kOk], &QPushButton::clicked, this, &NumberKeyboard::on_Button_ok_clicked);
    language_changed();
}

void NumberKeyboard::setKeyStyle(int index, bool focused)
{
    if (index == kOk)
        focus_list[index]->setStyleSheet(focused ? style_ok_focused : style_ok);
    else
        focus_list[index]->setStyleSheet(focused ? style_key_focused : style_key);
    if (index == kErase)
        focus_list[index]->setIcon(focused ? erase_icon_focused : erase_icon);
}

void NumberKeyboard::language_changed()
{
    focus_list[kCancel]->setText(inText(InText::KeypadCancel));
    focus_list[kOk]->setText(inText(InText::KeypadOk));
}

void NumberKeyboard::label_show(const QString& title, const QString& value)
{
    label->setText(title);
    l_str.clear();
    old_value = value;
    lineEdit->setText(value);
    showRefused(false);
    min_ = 0;
    max_ = 99999;
    language_changed();
}

bool NumberKeyboard::getNumber(const QString& title, const QString& value, int min, int max, int* out)
{
    label_show(title, value);
    min_ = min;
    max_ = max;
    accepted_ = false;
    // Without a window manager nothing hands the keys back when the keypad closes: the window on
    // top gets them (the page, or a pop-up shown over the keypad meanwhile).
    const QPointer<QWidget> before = QApplication::activeWindow();
    exec();
    TopWindow::activate(before && before != this && before->isVisible() ? before.data() : nullptr);
    if (!accepted_)
        return false;
    if (out)
        *out = result_;
    return true;
}

bool NumberKeyboard::editField(QLineEdit* field, const QString& title, int min, int max)
{
    if (!field)
        return false;
    g_lineedit = field;
    int value = 0;
    const bool ok = getNumber(title, field->text(), min, max, &value);
    // The field may have gone with its page while the keypad was open.
    if (ok && g_lineedit)
        g_lineedit->setText(QString::number(value));
    g_lineedit = nullptr;
    return ok;
}

QString NumberKeyboard::valueText() const
{
    return lineEdit->text();
}

QString NumberKeyboard::titleText() const
{
    return label->text();
}

void NumberKeyboard::showRefused(bool on)
{
    refused_ = on;
    lineEdit->setStyleSheet(on ? kRefusedStyle : kValueStyle);
    label_range->setText(QStringLiteral("%1-%2").arg(min_).arg(max_));
    label_range->setVisible(on);
}

void NumberKeyboard::typeDigit(int digit)
{
    showRefused(false);
    if (digit == 0 && l_str.toInt() == 0) {
        // A leading zero is shown but not kept.
        lineEdit->setText(QStringLiteral("0"));
        l_str.clear();
        return;
    }
    if (l_str.size() >= kMaxDigits)
        return;
    l_str += QString::number(digit);
    lineEdit->setText(l_str);
}

void NumberKeyboard::on_ButtonC_clicked()
{
    showRefused(false);
    lineEdit->setText(QStringLiteral("0"));
    l_str.clear();
}

void NumberKeyboard::on_ButtonX_clicked()
{
    showRefused(false);
    QString text = lineEdit->text();
    text.chop(1);
    lineEdit->setText(text);
    l_str = text;
}

void NumberKeyboard::on_Button_ok_clicked()
{
    const QString text = lineEdit->text();
    bool number = false;
    const int value = text.toInt(&number);
    if (text.isEmpty() || text.size() > kMaxDigits || !number || value < min_ || value > max_) {
        // Nothing is handed on: the old value is shown again and the entry starts afresh.
        lineEdit->setText(old_value);
        l_str.clear();
        showRefused(true);
        return;
    }
    accepted_ = true;
    result_ = value;
    Q_EMIT sendKeyBoardUIDataToLineEdit(text);
    hide();
    setResult(QDialog::Accepted);
}

void NumberKeyboard::on_Button_close_clicked()
{
    hide();
    setResult(QDialog::Rejected);
}

void NumberKeyboard::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Every opening is on top and takes the keys, also one over pages opened since the last.
    TopWindow::raise(this);
    // Once the window is really up, for platforms that activate only shown windows.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isVisible() && QApplication::activeWindow() != this)
                QApplication::setActiveWindow(this);
        },
        Qt::QueuedConnection);
}

void NumberKeyboard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == PanelKey::OK)
        qDebug("this is OK button(NumberKeyboard)[Press]\n");
    else if (event->key() == PanelKey::Back)
        qDebug("this is back button(NumberKeyboard)[Press]\n");
    event->accept();
}

void NumberKeyboard::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    switch (event->key()) {
    case PanelKey::Right:
    case PanelKey::Left: {
        const bool right = event->key() == PanelKey::Right;
        qDebug(right ? "this is right-code [NumberKeyboard][Release] ui_select=%#x"
                     : "this is left-code [NumberKeyboard][Release] ui_select=%#x",
               ui_select);
        setKeyStyle(ui_select, false);
        if (right)
            ui_select = ui_select >= kKeys - 1 ? 0 : ui_select + 1;
        else
            ui_select = ui_select == 0 ? kKeys - 1 : ui_select - 1;
        setKeyStyle(ui_select, true);
        focus_widget = focus_list[ui_select];
        break;
    }
    case PanelKey::OK:
        qDebug("this is OK button(NumberKeyboard)[Release]\n");
        if (ui_select < kDigitZero)
            typeDigit(ui_select + 1);
        else if (ui_select == kDigitZero)
            typeDigit(0);
        else if (ui_select == kClear)
            on_ButtonC_clicked();
        else if (ui_select == kErase)
            on_ButtonX_clicked();
        else if (ui_select == kCancel)
            on_Button_close_clicked();
        else
            on_Button_ok_clicked();
        break;
    case PanelKey::Back:
        qDebug("this is back button(NumberKeyboard)[Release]\n");
        on_Button_close_clicked();
        break;
    default:
        break;
    }
}

void placeNumberKeyboard(QWidget* mainWindow)
{
    if (g_numberkeyboard && mainWindow)
        g_numberkeyboard->setGeometry(mainWindow->x() + 160, mainWindow->y(), 160, 240);
}
