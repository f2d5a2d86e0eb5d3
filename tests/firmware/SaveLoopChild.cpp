// Saves an image into the folder given, again and again, each time with all
// bytes set to the next value, until it is killed.
#include <cstdio>

#include "firmware/FirmwareImage.h"
#include "firmware/ImageSaver.h"

int main(int argc, char** argv) {
    using namespace korvane::firmware;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    static FirmwareImage image;
    ImageSaver saver;
    for (unsigned n = 1;; ++n) {
        for (auto& b : image.Bytes()) b = static_cast<uint8_t>(n);
        const SaveOutcome out = saver.Save(image.Bytes(), argv[1], "j5ls.bin");
        if (out.kind == SaveOutcome::kFailed) {
            std::fprintf(stderr, "%s: %s\n", out.path.c_str(), out.error.c_str());
            return 1;
        }
    }
}
