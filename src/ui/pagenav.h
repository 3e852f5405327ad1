#pragma once
#include <QObject>
#include <QPointer>

class QWidget;
class VyrPage;

// Page codes, page pointers and the open, back and MODE sequences of the front panel.
// GUI thread only.
namespace PageNav {
constexpr int kPageCount = 27; // codes 0-26
// The tools' pages live above ui/: app/ registers them (registerPage) before the panel opens.
constexpr int kSmartMappingPage = 24, kRcvRecoveryPage = 25, kUsbUpgradePage = 26;

// A row of the page table: the page's pointer g_<page>, read, cleared and set by its code.
struct Entry {
    QWidget* (*get)();
    void (*clear)();
    bool (*store)(QWidget*); // false when the widget is no T
};

template <class T, QPointer<T>* P>
Entry entry()
{
    return {[]() -> QWidget* { return P->data(); }, [] { *P = nullptr; },
            [](QWidget* w) {
                *P = qobject_cast<T*>(w);
                return !P->isNull();
            }};
}

// A page of a higher folder: its row and how to make one. Until it is registered its code opens
// nothing.
void registerPage(int code, Entry row, VyrPage* (*make)());
void open(int code); // a new page of that code, as registered, run with openModal

QWidget* page(int code);   // the open page of that code, or null
void forget(int code);     // its page pointer := null
int parentCode(int code);  // where BACK leads (3 and 7 depend on what is open)
void retext(int code);     // language_changed() of the open page of that code
void refresh(int code, int signal); // its syncUpdate; false when it is not open
bool languageChanged();    // VyrRamPara::VyrLanguageChanged(), false without a store
void activate(int code);   // the keys to the window on top: that page, or a pop-up over it

// Stores the page in its pointer, puts its code on top and runs it modally.
void openModal(VyrPage* child);
// Closes the page (deleted by Qt), clears its pointer, re-texts the parent unless told not to,
// and puts the parent's code on top.
void back(VyrPage* page, bool retextParent = true);
// Closes the page of that code with delete-on-close and clears its pointer.
void closePage(int code);
// Closes every page above the root menu, then opens the user-mode page from a queued call once
// the modal loops of the closed pages have returned.
void modeShortcut();
void showHome();           // a new home screen on top (code 0)
void showUserModes();      // a new user-mode page on top (code 4)
}
