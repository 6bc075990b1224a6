#pragma once
/// JPEG through libjpeg over in-memory buffers and streams: the decoder
/// (JpegDecoder.h) and the encoder (JpegEncoder.h) for callers that use both.

#include "engine/JpegDecoder.h"
#include "engine/JpegEncoder.h"
