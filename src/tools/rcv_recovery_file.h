#pragma once
#include <QString>

// Reader of the receiving-card files under "/data/rcvrecovery" and "/data/smartmapping"; one
// instance, owned by the FPGA manager. So far the folder set-up at start.
class rcvRecovery {
public:
    // Creates the folder (one level) when missing: 1 created, 0 already there or not creatable.
    int check_file_dir(const QString& path);
};
