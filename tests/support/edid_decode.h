#pragma once
#include <QString>
#include <cstdint>

// Debian's edid-decode (installed by scripts/deps) run over 256 EDID bytes with --check: its whole
// output, or a line saying why it could not run. A clean table reads "EDID conformity: PASS" and no
// warning.
QString edidDecodeCheck(const uint8_t* bytes256);
bool edidDecodeClean(const QString& output);
