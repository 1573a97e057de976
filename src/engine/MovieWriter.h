#pragma once

#include <QString>

#include <cstdint>

class QImage;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

// Writes a movie, picture by picture, as H.264 video in an MP4 file through
// FFmpeg's libraries. The pictures go into a hidden file beside the target,
// which only Finish renames into place, so a movie that was abandoned, or
// failed on the way, leaves no file behind, and one that exists is whole.
class MovieWriter {
public:
    MovieWriter() = default;
    // Abandons a movie not finished.
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Starts a movie of width x height pixels, each even (the video's colour
    // planes have half the resolution), at fps frames a second.
    bool Open(const QString& path, int width, int height, int fps);
    // Adds a picture of the movie's size as its next frame.
    bool Add(const QImage& picture);
    // Writes what the encoder still holds and puts the file in place; a
    // movie needs at least one frame.
    bool Finish();
    // Stops, leaving no file.
    void Abandon();

    // Why the last call failed, in one line that follows the file's name.
    QString error;

private:
    // Sends a frame to the encoder (none: the end) and writes what it gives.
    bool Encode(const AVFrame* frame);
    bool Fail(const QString& what, int code);
    void Close();

    QString target;
    QString partial;
    int width = 0;
    int height = 0;
    int64_t frames = 0;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* rgb = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
};
