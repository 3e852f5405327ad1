#pragma once
#include "params/vyrrampara.h"

// The tests' face of the parameter store: its block as it stands, to set a case up around the
// store's rules and to read back what a writer left there.
struct StoreFace {
    static uint8_t* block(VyrRamPara* store) { return store->block; }
};

inline uint8_t* testBlock(VyrRamPara* store) { return StoreFace::block(store); }
