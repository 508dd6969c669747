// libFuzzer target for the TGA reader (header and full read).
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("tga")
