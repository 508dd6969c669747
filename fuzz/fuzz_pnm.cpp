// libFuzzer target: the PNM reader (P1-P6; header and full read) on arbitrary bytes.
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("pnm")
