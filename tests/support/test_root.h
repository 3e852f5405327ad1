#pragma once
#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

// Every test gets its own temporary root ($VYR_ROOT) and a fresh simulated board. When it ends it
// fails on any rule breach an emulated chip recorded (scaler chip and its flash, FPGA and its
// configuration flash, the MTD flash files, the I2C bus and its chips) and on any sanitizer report
// in the output of a program it started. The test main installs this for every test program.
namespace TestRoot {
std::string path(const std::string& absolute); // "/data/x" -> "<root>/data/x"
QByteArray readFile(const std::string& absolute);
bool writeFile(const std::string& absolute, const QByteArray& contents); // creates folders
bool exists(const std::string& absolute);
QStringList shellLog(); // lines of <root>/sim/shell.log
bool logHas(const char* text); // the program's log file holds the text

// The breaches recorded so far are what the test provoked on purpose; only later ones fail it.
void acceptViolations();
// Breaches recorded since the test began (or since the last acceptViolations), "chip: text".
std::vector<std::string> newViolations();

// Called once by the test main, after the process root is set.
void installBoardChecks(const std::string& processRoot);
}
