#include "imaging/codecs/Codecs.h"

// Not built yet: the registry leaves this format out.
std::unique_ptr<Codec> MakeIcoCodec() { return nullptr; }
std::unique_ptr<Codec> MakeCurCodec() { return nullptr; }
