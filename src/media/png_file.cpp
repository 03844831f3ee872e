#include "media/png_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "core/error.hpp"
#include "media/av_ptr.hpp"
#include "media/error.hpp"
#include "media/partial_files.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace vantrel::media {

namespace {

// The PNG encoder's output for one picture.
std::string encodePng(int width, int height, std::span<const std::uint16_t> rgb) {
    const std::string action = "encode a PNG picture";
    if (width < 1 || height < 1 || rgb.size() != std::size_t(width) * height * 3)
        throw MediaError(MediaFailure::misuse, action, "the samples do not fill the picture");
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec)
        throw MediaError(AVERROR_ENCODER_NOT_FOUND, action);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet)
        throw MediaError(AVERROR(ENOMEM), action);
    LibraryLog log;
    log.attach(*context);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_RGB48BE; // PNG stores 16-bit samples big-endian
    context->time_base = {1, 1};
    check(avcodec_open2(context.get(), codec, nullptr), action, &log);
    frame->format = AV_PIX_FMT_RGB48BE;
    frame->width = width;
    frame->height = height;
    check(av_frame_get_buffer(frame.get(), 0), action, &log);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
        for (int i = 0; i < width * 3; ++i) {
            const std::uint16_t v = rgb[std::size_t(y) * width * 3 + i];
            row[2 * i] = static_cast<std::uint8_t>(v >> 8);
            row[2 * i + 1] = static_cast<std::uint8_t>(v & 0xFF);
        }
    }
    check(avcodec_send_frame(context.get(), frame.get()), action, &log);
    check(avcodec_send_frame(context.get(), nullptr), action, &log);
    std::string bytes;
    int rc;
    while ((rc = avcodec_receive_packet(context.get(), packet.get())) == 0) {
        bytes.append(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size));
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF)
        check(rc, action, &log);
    return bytes;
}

} // namespace

void writePng16(const std::filesystem::path& path, int width, int height,
                std::span<const std::uint16_t> rgb) {
    const std::string bytes = encodePng(width, height, rgb);
    PartialFile partial(path);
    const int fd = ::open(partial.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        throw FileError(errno, "write", path.string());
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            throw FileError(error, "write", path.string());
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0)
        throw FileError(errno, "write", path.string());
    partial.renameTo(path);
}

} // namespace vantrel::media
