// The placeholders whose text lives in the environment, so that the launcher
// and every process started after it see the same text for them.
#pragma once

#include <cstddef>

// Each appends its text to `output` (capacity in units, NUL included) and
// stops the launcher when the text does not fit.

// {TIME}: ZEMBRA_ONEFILE_START, else the system time in 100 ns units, stored.
void append_held_time(char16_t* output, size_t capacity);

// {TIME_US}: ZEMBRA_ONEFILE_TIME_US, else six digits of microseconds, stored.
void append_held_time_us(char16_t* output, size_t capacity);

// {RANDOM}: ZEMBRA_ONEFILE_RANDOM, else eleven random characters, stored.
void append_held_random(char16_t* output, size_t capacity);

// {PID}: ZEMBRA_ONEFILE_PARENT when it holds only digits (anything else
// stops the launcher), else this process's id, not stored.
void append_held_pid(char16_t* output, size_t capacity);
