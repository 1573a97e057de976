#include "MovieWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {
QString Reason(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}
}  // namespace

MovieWriter::~MovieWriter() { Abandon(); }

bool MovieWriter::Fail(const QString& what, int code)
{
    error = what + (code < 0 ? QStringLiteral(": ") + Reason(code) : QString());
    Abandon();
    return false;
}

bool MovieWriter::Open(const QString& path, int w, int h, int fps)
{
    Abandon();
    error.clear();
    target = path;
    width = w;
    height = h;
    frames = 0;
    if (w < 2 || h < 2 || w % 2 || h % 2 || w > 16384 || h > 16384) {
        return Fail(
            QStringLiteral("a movie's sides are even numbers of pixels from 2 to 16384, not %1 x %2").arg(w).arg(h), 0);
    }
    if (fps < 1 || fps > 240) {
        return Fail(QStringLiteral("a movie has 1 to 240 frames a second, not %1").arg(fps), 0);
    }
    // A hidden file beside the target: the rename at the end stays on one
    // file system, and a file browser does not show the movie half made.
    const QFileInfo info(path);
    QTemporaryFile part(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    part.setAutoRemove(false);
    if (!part.open()) {
        return Fail(QStringLiteral("cannot be written: ") + part.errorString(), 0);
    }
    partial = part.fileName();
    part.close();
    // The movie gets the permissions of any new file, not the temporary's
    // owner-only ones.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(QFile::encodeName(partial).constData(), 0666 & ~mask);
    const QByteArray file = QFile::encodeName(partial);

    // The encoder's reports of its settings and statistics are no news.
    av_log_set_level(AV_LOG_ERROR);
    int code = avformat_alloc_output_context2(&format, nullptr, "mp4", file.constData());
    if (code < 0 || !format) {
        return Fail(QStringLiteral("no MP4 writer"), code);
    }
    const AVCodec* h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!h264) {
        return Fail(QStringLiteral("this FFmpeg has no H.264 encoder"), 0);
    }
    stream = avformat_new_stream(format, nullptr);
    codec = avcodec_alloc_context3(h264);
    if (!stream || !codec) {
        return Fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    }
    codec->width = w;
    codec->height = h;
    codec->time_base = AVRational{1, fps};
    codec->framerate = AVRational{fps, 1};
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    // A key frame every second, so that a player can seek.
    codec->gop_size = fps;
    // What the scaler below writes: BT.601 in the limited range.
    codec->color_range = AVCOL_RANGE_MPEG;
    codec->colorspace = AVCOL_SPC_SMPTE170M;
    codec->color_primaries = AVCOL_PRI_SMPTE170M;
    codec->color_trc = AVCOL_TRC_SMPTE170M;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // x264's own options: a quality that keeps the grain of a volume
    // rendering from turning into blocks.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "medium", 0);
    av_dict_set(&options, "crf", "18", 0);
    code = avcodec_open2(codec, h264, &options);
    av_dict_free(&options);
    if (code < 0) {
        return Fail(QStringLiteral("the H.264 encoder does not start"), code);
    }
    code = avcodec_parameters_from_context(stream->codecpar, codec);
    if (code < 0) {
        return Fail(QStringLiteral("the H.264 encoder does not start"), code);
    }
    stream->time_base = codec->time_base;
    code = avio_open(&format->pb, file.constData(), AVIO_FLAG_WRITE);
    if (code < 0) {
        return Fail(QStringLiteral("cannot be written"), code);
    }
    code = avformat_write_header(format, nullptr);
    if (code < 0) {
        return Fail(QStringLiteral("cannot be written"), code);
    }

    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (!frame || !packet) {
        return Fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = w;
    frame->height = h;
    // The scaler reads whole vectors: the picture is copied into a frame
    // padded for them.
    rgb = av_frame_alloc();
    if (!rgb) {
        return Fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    }
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = w;
    rgb->height = h;
    code = av_frame_get_buffer(frame, 0);
    if (code >= 0) {
        code = av_frame_get_buffer(rgb, 0);
    }
    if (code < 0) {
        return Fail(QStringLiteral("out of memory"), code);
    }
    scaler = sws_getContext(w, h, AV_PIX_FMT_RGB24, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler) {
        return Fail(QStringLiteral("no conversion to the video's colours"), 0);
    }
    return true;
}

bool MovieWriter::Add(const QImage& picture)
{
    if (!codec) {
        error = QStringLiteral("no movie is open");
        return false;
    }
    if (picture.width() != width || picture.height() != height) {
        return Fail(QStringLiteral("a frame of %1 x %2 in a movie of %3 x %4")
                        .arg(picture.width())
                        .arg(picture.height())
                        .arg(width)
                        .arg(height),
                    0);
    }
    const QImage colours = picture.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        std::memcpy(rgb->data[0] + size_t(y) * size_t(rgb->linesize[0]), colours.constScanLine(y), size_t(width) * 3);
    }
    // The encoder may still hold the last frame's planes.
    const int code = av_frame_make_writable(frame);
    if (code < 0) {
        return Fail(QStringLiteral("out of memory"), code);
    }
    sws_scale(scaler, rgb->data, rgb->linesize, 0, height, frame->data, frame->linesize);
    frame->pts = frames++;
    return Encode(frame);
}

bool MovieWriter::Encode(const AVFrame* next)
{
    int code = avcodec_send_frame(codec, next);
    if (code < 0) {
        return Fail(QStringLiteral("the H.264 encoder failed"), code);
    }
    for (;;) {
        code = avcodec_receive_packet(codec, packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) {
            return true;
        }
        if (code < 0) {
            return Fail(QStringLiteral("the H.264 encoder failed"), code);
        }
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        code = av_interleaved_write_frame(format, packet);
        if (code < 0) {
            return Fail(QStringLiteral("cannot be written"), code);
        }
    }
}

bool MovieWriter::Finish()
{
    if (!codec) {
        error = QStringLiteral("no movie is open");
        return false;
    }
    if (frames == 0) {
        return Fail(QStringLiteral("a movie needs at least one frame"), 0);
    }
    if (!Encode(nullptr)) {
        return false;
    }
    int code = av_write_trailer(format);
    if (code < 0) {
        return Fail(QStringLiteral("cannot be written"), code);
    }
    // Closing flushes the last bytes, which may not fit on the disk.
    code = avio_closep(&format->pb);
    if (code < 0) {
        return Fail(QStringLiteral("cannot be written"), code);
    }
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0) {
        return Fail(QStringLiteral("cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno)), 0);
    }
    partial.clear();
    Close();
    return true;
}

void MovieWriter::Close()
{
    if (format && format->pb) {
        avio_closep(&format->pb);
    }
    sws_freeContext(scaler);
    scaler = nullptr;
    av_packet_free(&packet);
    av_frame_free(&frame);
    av_frame_free(&rgb);
    avcodec_free_context(&codec);
    avformat_free_context(format);
    format = nullptr;
    stream = nullptr;
}

void MovieWriter::Abandon()
{
    Close();
    if (!partial.isEmpty()) {
        QFile::remove(partial);
        partial.clear();
    }
}
