// libFuzzer target: the BMP reader (header and full read) on arbitrary bytes.
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("bmp")
