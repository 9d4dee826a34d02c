#pragma once

#include <QSize>
#include <QString>

/// What a PNG file declares about itself, read from its chunks before the pixels, so the
/// till describes the plug-in's picture without loading an image library.
struct PngPicture {
    QSize size;         // invalid when the file is missing or no PNG
    bool alpha = false; // an alpha channel, or transparency given by a tRNS chunk
};

/// The picture at `path`; an invalid size with a reason in `problem` when unreadable.
PngPicture readPngPicture(const QString& path, QString* problem);
