#include "comm/card_file_events.h"

CardFileEvents* CardFileEvents::instance()
{
    static CardFileEvents events;
    return &events;
}
