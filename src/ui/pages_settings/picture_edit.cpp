// Picture values edited on the wall: the writer that waits for a busy scaler, and one value's edit.
#include "ui/pages_settings/picture_edit.h"

#include "params/block_layout.h"
#include "params/scaler_hand_over.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

#include <algorithm>

PictureWriter::PictureWriter(QObject* parent)
    : QObject(parent)
{
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, [this] { flush(); });
}

PictureWriter::~PictureWriter()
{
    flush(true);
}

bool PictureWriter::scalerBusy()
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    return scaler && scaler->change_flag.load() != 0;
}

uint16_t PictureWriter::stored(uint32_t field)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return 0;
    ScalerHandOver lock; // the protocol writes these fields under it from its own thread
    return blk::get16(store->view(), field);
}

int PictureWriter::shown(uint16_t word)
{
    // A value the control protocol stored out of range is shown as what a step would make of it.
    return std::clamp<int>(int16_t(word), 0, 100);
}

bool PictureWriter::write(uint32_t field, int value)
{
    const uint16_t word = uint16_t(std::clamp(value, 0, 100));
    const auto it = waiting_.find(field);
    if (it == waiting_.end())
        waiting_[field] = {word, stored(field)};
    else
        it->second.value = word;
    flush();
    return !waitingFor(field);
}

void PictureWriter::flush(bool force)
{
    if (waiting_.empty())
        return;
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store) {
        drop();
        return;
    }
    if (!force && scalerBusy()) {
        retry_.start();
        return;
    }
    {
        ScalerHandOver handOver;
        // The whole word: a high byte left over from a larger stored value would make the scaler
        // apply another value than the one the page shows.
        for (const auto& w : waiting_) {
            if (blk::get16(store->view(), w.first) != w.second.held)
                continue; // another writer's, and newer
            store->setU16(w.first, w.second.value);
            handOver.commit();
        }
    }
    drop();
}

int PictureWriter::step(int current, int& saved, char mode)
{
    switch (mode) {
    case 0: ++current; break;
    case 1: --current; break;
    case 2: saved = current; break;
    case 3: current = saved; break;
    default: break;
    }
    return std::clamp(current, 0, 100);
}


int SteppedValue::begin(uint32_t field)
{
    field_ = field;
    const uint16_t word = PictureWriter::stored(field);
    origin_.start({int(word)});
    current_ = saved_ = PictureWriter::shown(word);
    return current_;
}

int SteppedValue::key(char mode)
{
    int ignored;
    follow(&ignored); // a key acts on another writer's value, not on the one the page showed
    const int before = current_;
    current_ = PictureWriter::step(current_, saved_, mode);
    // Every step goes out (also at 0 and 100); an undo only when it changes the value.
    if (mode == 0 || mode == 1 || (mode == 3 && current_ != before)) {
        writer_->write(field_, current_);
        origin_.wrote({current_});
    }
    if (mode == 2 || mode == 3)
        origin_.close();
    return current_;
}

bool SteppedValue::follow(int* shown)
{
    if (!origin_.isOpen() || writer_->waitingFor(field_))
        return false;
    const uint16_t word = PictureWriter::stored(field_);
    if (!origin_.changedElsewhere({int(word)}))
        return false;
    origin_.start({int(word)});
    current_ = saved_ = *shown = PictureWriter::shown(word);
    return true;
}
