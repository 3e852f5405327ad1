#pragma once
#include <QByteArray>
#include <QString>

// Writes a file so that a power cut leaves the old or the new contents, never a torn file:
// temporary file beside it, written, flushed to disk, renamed over the old one.
// `path` is the program's absolute path ("/data/..."), resolved under the board's root.
bool writeFileAtomically(const QString& path, const QByteArray& contents);
