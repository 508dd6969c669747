// libFuzzer target: the ICO reader (header and full read) on arbitrary bytes.
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("ico")
