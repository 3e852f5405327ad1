#pragma once
#include <QObject>

// Card files (recovery and mapping) that a PC tool stored or deleted. Emitted from the transport's
// thread; the pages that list those files are connected at start-up, queued to the GUI thread.
class CardFileEvents : public QObject {
    Q_OBJECT
public:
    static CardFileEvents* instance();

Q_SIGNALS:
    void recoveryFilesChanged(bool fromDelete);
    void mappingFilesChanged(bool fromDelete);
};
