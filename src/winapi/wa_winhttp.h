/* winhttp family of the stand-in: declarations come with the module that uses it. */
#pragma once
#include "winapi/wa_types.h"
