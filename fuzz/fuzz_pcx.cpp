// libFuzzer target for the PCX reader (header and full read).
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("pcx")
