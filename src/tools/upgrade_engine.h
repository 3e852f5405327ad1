#pragma once
#include "tools/upgrade_package.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class fpga_manage;

// The USB upgrade run, done by the FPGA worker one step per pass while g_usb_grade is set (step in
// g_send_para byte 1: 0 start, 1 search, 2 packages, 3 end). Each package is checked whole before
// any of it is written; images are streamed, written, read back and compared; the application is
// staged in a temporary file, compared and renamed, and swapped in only when all of that succeeded.
namespace upgrade {

enum class Outcome { Written, Skipped, Failed };
constexpr const char* kNoSecondFpga = "no second FPGA"; // reason of a skipped FPGA 1 image

struct Item {
    QString package; // file name on the stick
    int entry = -1;  // -1: the package as a whole
    uint8_t type = 0;
    Outcome outcome = Outcome::Failed;
    QString reason;
};

struct RunResult {
    uint32_t run = 0;        // number of the run (0: none yet)
    bool finished = false;
    int packages = 0;        // packages found
    QString time;            // "h:m:s" start, four blanks, end
    std::vector<Item> items;
    bool anyFailed() const;
    int count(Outcome outcome) const;
};

class Engine {
public:
    static Engine& instance();

    // Asks the worker for a run. Refused while a run or a card job is under way (the step byte is
    // theirs); *why then says which. The run's number in *run.
    bool start(QString* why, uint32_t* run = nullptr);
    // One step of the machine (the worker's pass while g_usb_grade is set).
    void step(fpga_manage* fpga);
    RunResult result() const; // the last run, also after it ended

    // Tests: replace the scaler's serial flash (erased, written and read back through the scaler
    // manager otherwise). Returns true when the bytes were written and read back.
    std::function<bool(uint32_t address, const uint8_t* data, uint32_t length)> fontWriter;
    std::function<void()> fontReload; // fonts re-read and reloaded into the chip

private:
    Engine(); // registers the step with the FPGA worker
    void begin(fpga_manage* fpga);
    void processAll(fpga_manage* fpga);
    void finish(fpga_manage* fpga);
    void processPackage(fpga_manage* fpga, const QString& path);
    bool writeApp(const std::string& host, const Entry& e, QString* why);
    bool writeFpga(fpga_manage* fpga, const std::string& host, const Entry& e, QString* why);
    bool writeFont(const std::string& host, const Entry& e, QString* why);
    bool swapApp(QString* why);
    void add(const Item& item);

    mutable std::mutex mutex_;
    RunResult result_;    // under mutex_
    uint32_t runs_ = 0;   // under mutex_
    QStringList files_;   // worker only
    // This run, worker only. fpgaIncomplete_: an FPGA 0 image failed after its erase.
    bool appStaged_ = false, fpgaWritten_ = false, fpgaFailed_ = false, fpgaIncomplete_ = false, fontWritten_ = false;
};

// Installed FPGA version test: entry bytes 1-3 against registers 31, 30, 29 (BCD) and byte 6
// against register 28.
bool fpgaVersionInstalled(const uint8_t version[6], const uint8_t* registers);
QString clockText(); // "h:m:s" without leading zeros
// An FPGA 0 image write that began and did not end with its read-back (a power cut between its
// erase and its last chunk leaves half an image): what it was, else empty.
QString cutImageWrite();

}
