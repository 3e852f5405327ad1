#pragma once
#include <string>

enum _LogType { LOG_CRITICAL = 0, LOG_ERROR = 1, LOG_WARNING = 2, LOG_INFO = 3, LOG_DEBUG = 4 };

// Appends one line (at most 511 characters, always ending in a line feed) to
// "/data/keltoqz/log/jtcEnglneLog" and echoes by level and g_debugSwitch.
int writeLogMsg(int level, std::string text);
