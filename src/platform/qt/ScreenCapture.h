#pragma once
#include <QImage>
#include <string>

namespace korvane::platform {

// The whole primary screen, from its top left corner.
QImage GrabPrimaryScreen();

// Encodes the image as a baseline JPEG with libjpeg at the given quality and
// writes it to path (through a temporary file). On failure returns false
// with the reason.
bool SaveJpeg(const QImage& image, const std::string& path, int quality, std::string& error);

}  // namespace korvane::platform
