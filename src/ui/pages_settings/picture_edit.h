#pragma once
#include "ui/edit_origin.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <map>

// Picture values handed to the scaler one change at a time. While the scaler has not yet taken
// the previous change (its change flag is set) the newest value of each field waits here and
// goes out as soon as the flag is clear: on the page's next refresh or a short retry timer, and
// at the latest when the page goes away. So neither a step nor an undo is lost to a busy scaler;
// but a value another writer stored meanwhile is newer than the waiting one, which is dropped.
class PictureWriter : public QObject {
    Q_OBJECT
public:
    explicit PictureWriter(QObject* parent);
    ~PictureWriter() override;
    static bool scalerBusy();          // the scaler has not yet taken the last change
    static uint16_t stored(uint32_t field); // the field's word as the block holds it now
    static int shown(uint16_t word);        // a stored word as the pages show it, 0-100
    // Stores value (0-100) as the field's whole 16-bit word with a hand-over, now or once the
    // scaler is free. True when it was written now.
    bool write(uint32_t field, int value);
    bool waiting() const { return !waiting_.empty(); }
    bool waitingFor(uint32_t field) const { return waiting_.count(field) != 0; }
    void drop() { waiting_.clear(); retry_.stop(); }
    // Writes what waits when the scaler is free, or regardless (merged into the pending change)
    // when forced.
    void flush(bool force = false);

    static constexpr int kRetryMs = 100;

    // One key on a value being edited (mode 0 up, 1 down, 2 keep, 3 undo to the kept value):
    // the new value, held to 0-100.
    static int step(int current, int& saved, char mode);

private:
    struct Waiting {
        uint16_t value;
        uint16_t held; // the field's word when the value began to wait
    };
    std::map<uint32_t, Waiting> waiting_;
    QTimer retry_;
};

// One picture value edited live on the wall: each step goes out at once through the writer, and
// the edit keeps what it started from. Another writer's value while the edit is open becomes its
// new start (the page shows it); BACK undoes only the page's own steps; keeping writes nothing.
class SteppedValue {
public:
    explicit SteppedValue(PictureWriter* writer) : writer_(writer) {}
    int begin(uint32_t field); // the edit starts from the stored value; returns it as shown
    int key(char mode);        // 0 up, 1 down, 2 keep, 3 undo; returns the value to show
    // On a refresh while editing: true when another writer changed the field, with its value.
    bool follow(int* shown);
    bool open() const { return origin_.isOpen(); }

private:
    PictureWriter* writer_;
    uint32_t field_ = 0;
    int current_ = 0;
    int saved_ = 0;
    EditOrigin origin_;
};
