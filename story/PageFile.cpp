#include "PageFile.h"
