// The order of client versions, such as "1.0.10.0" after "1.0.9.0".
#pragma once

// Negative when a comes before b, 0 when they are the same version, positive
// when a comes after b. Versions are dot-separated components compared from
// the left; a component missing at the end, or empty, counts as 0, so "1.2"
// equals "1.2.0.0". Two components of decimal digits compare as numbers of
// any length ("010" equals "10"); a component with anything else in it
// compares with its counterpart as text, code unit by code unit. A null
// version reads as empty.
int CompareVersions(const wchar_t* a, const wchar_t* b);
