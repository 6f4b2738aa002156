#include "Pages.h"

std::string NrToString(unsigned long long value) { return std::to_string(value); }
