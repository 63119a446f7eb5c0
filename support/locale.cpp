#include "support/locale.h"

#include <clocale>

bool UseChineseLocale() { return setlocale(LC_ALL, "chs") != nullptr; }
