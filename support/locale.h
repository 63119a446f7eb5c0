// The C run-time locale of the whole process.
#pragma once

// Switches the C run-time of the whole process to "chs" (code page 936), so
// every narrow/wide conversion of texts and file names uses it. Each
// program that converts narrow text calls it first thing; it is never
// switched back. False when the run-time does not know the locale.
bool UseChineseLocale();
