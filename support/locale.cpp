#include "support/locale.h"

#include <clocale>

XLocale::XLocale() {
    previous = setlocale(LC_ALL, nullptr);
    current = setlocale(LC_ALL, "chs");
}

XLocale g_locale;
