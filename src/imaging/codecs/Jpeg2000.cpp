#include "imaging/codecs/Codecs.h"

// Not built yet: the registry leaves this format out.
std::unique_ptr<Codec> MakeJp2Codec() { return nullptr; }
std::unique_ptr<Codec> MakeJ2kCodec() { return nullptr; }
