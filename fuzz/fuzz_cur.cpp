// libFuzzer target: the CUR reader (header and full read) on arbitrary bytes.
#include "FuzzCodec.h"

QUILLOMAR_FUZZ_CODEC("cur")
