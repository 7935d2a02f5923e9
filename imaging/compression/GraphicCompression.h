#pragma once
// The decoders of the image framework (unit GraphicCompression): the interface (Decoder.h) and one
// header per decoder family. Readers may include just the family they use.
#include "imaging/compression/CCITTDecoders.h"
#include "imaging/compression/Decoder.h"
#include "imaging/compression/DeflateBlockDecoder.h"
#include "imaging/compression/LZ77Decoder.h"
#include "imaging/compression/PCDDecoder.h"
#include "imaging/compression/RunLengthDecoders.h"
#include "imaging/compression/TIFFJPEGDecoder.h"
#include "imaging/compression/TIFFLZWDecoder.h"
#include "imaging/compression/ThunderDecoder.h"
