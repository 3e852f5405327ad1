#pragma once

namespace platform {
const char* boardName();   // "linux" or "sim"
bool isSimulated();
// Sets the board up before the program touches it: the simulated board reads its description
// (<root>/sim/board.json); the box needs nothing.
void configureBoard();
}
