#pragma once

#include <memory>

#include "imaging/Codec.h"

// Factories of the codecs, one file each under codecs/. A factory may return nullptr for a
// format that this build cannot handle; the registry then leaves it out.
std::unique_ptr<Codec> MakeJpegCodec();
std::unique_ptr<Codec> MakePngCodec();
std::unique_ptr<Codec> MakeTiffCodec();
std::unique_ptr<Codec> MakeGifCodec();
std::unique_ptr<Codec> MakeBmpCodec();
std::unique_ptr<Codec> MakeIcoCodec();
std::unique_ptr<Codec> MakeCurCodec();
std::unique_ptr<Codec> MakePnmCodec();
std::unique_ptr<Codec> MakeWbmpCodec();
std::unique_ptr<Codec> MakePcxCodec();
std::unique_ptr<Codec> MakeDcxCodec();
std::unique_ptr<Codec> MakeTgaCodec();
std::unique_ptr<Codec> MakeJp2Codec();
std::unique_ptr<Codec> MakeJ2kCodec();
std::unique_ptr<Codec> MakeRawCodec();
