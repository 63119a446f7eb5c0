// Switches the C runtime of the whole process to "chs" (code page 936) before
// the entry runs, so every narrow/wide conversion uses it. Not switched back.
#pragma once

class XLocale {
public:
    XLocale();
    virtual ~XLocale() = default;
    const char* previous = nullptr;
    const char* current = nullptr;
};

// The process-wide instance.
extern XLocale g_locale;
