#pragma once
#include <pthread.h>

// Starts a POSIX thread with default attributes and names it (the first 15 characters show in
// top, ps and gdb). True when the thread runs.
bool startNamedThread(pthread_t* thread, void* (*entry)(void*), void* arg, const char* name);

// Tests: the next `count` starts fail as pthread_create does when the system is out of threads.
void failNextThreadStarts(int count);
