#pragma once
// The reader lives with the FPGA worker that owns it.
#include "fpga/rcv_recovery_file.h"
