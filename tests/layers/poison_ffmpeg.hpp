// Included ahead of every header the layers.headers test compiles: any later mention of
// these FFmpeg names, even a forward declaration, is an error.
#pragma GCC poison AVFrame AVPacket AVCodec AVCodecContext AVCodecParameters AVFormatContext
#pragma GCC poison AVStream AVIOContext AVBufferRef AVBufferPool AVDictionary AVRational
#pragma GCC poison AVPixelFormat AVColorPrimaries AVColorTransferCharacteristic AVColorSpace
#pragma GCC poison AVColorRange AVChromaLocation AVPixFmtDescriptor AVMediaType SwsContext
