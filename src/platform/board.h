#pragma once

namespace platform {
const char* boardName();   // "linux" or "sim"
bool isSimulated();
}
