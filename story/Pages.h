#pragma once

#include <string>

// The decimal digits of value: no sign, no leading zeros.
std::string NrToString(unsigned long long value);
