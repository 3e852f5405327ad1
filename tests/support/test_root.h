#pragma once
#include <QByteArray>
#include <QString>
#include <string>

// Helpers for files under the test's temporary root.
namespace TestRoot {
std::string path(const std::string& absolute); // "/data/x" -> "<root>/data/x"
QByteArray readFile(const std::string& absolute);
bool writeFile(const std::string& absolute, const QByteArray& contents); // creates folders
bool exists(const std::string& absolute);
QStringList shellLog(); // lines of <root>/sim/shell.log
}
