#pragma once
#include <QByteArray>
#include <QString>

#include <string>

// Writes a file so that a power cut leaves the old or the new contents, never a torn file:
// temporary file beside it, written, flushed to disk, renamed over the old one.
// `path` is the program's absolute path ("/data/..."), resolved under the board's root.
bool writeFileAtomically(const QString& path, const QByteArray& contents);

// Flushes the directory that holds `resolvedPath` (a path already under the board's root), so that
// a rename into it survives a power cut. False when the directory cannot be opened or synced.
bool syncParentDirectory(const std::string& resolvedPath);

// Creates the directory that holds `resolvedPath` (a path already under the board's root) with the
// directories above it, as a fresh root lacks them. True when it exists afterwards.
bool makeParentDirectory(const std::string& resolvedPath);

// Suffix of a writer's temporary file beside its target.
constexpr const char* kAtomicTempSuffix = ".atomic-tmp";
// The name every writer of the box gives its temporary file beside `target` (either path form):
// the start removes exactly these, and uploads refuse names that end like them.
std::string temporaryFor(const std::string& target);
// True for a name (or path) that ends like such a temporary file.
bool isTemporaryName(const std::string& name);

// Removes the temporary files a killed writer left in `folder` (program path, not recursive);
// returns how many were removed. Called at start, before anything writes.
int removeAtomicLeftovers(const QString& folder);
// The same for the lock Qt's settings writer keeps beside `iniPath` ("<ini>.lock") and the
// ".rmlock" chain it builds beside a lock it finds stale: a program started after a power cut can
// have the dead one's process number, and Qt then takes its lock for live until it is 30 s old.
int removeSettingsLockLeftovers(const QString& iniPath);
