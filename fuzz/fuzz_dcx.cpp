// libFuzzer target for the DCX reader (header and full read).
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("dcx")
