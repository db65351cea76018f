// Opening insole images with FreeImage: the header is checked for the
// accepted 150 x 360 size before any pixel is decoded.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace pathapp {

// UNREADABLE: missing, or possibly still being written (it waits); `why`
// says what is missing of a file that is there.
// UNUSABLE: never an image of this program: no plain file (a directory, a
// FIFO, a device), not a BMP, a BMP that cannot be decoded, or one with no
// grey height per pixel (16 bits or fewer than 8 a pixel, a palette that is
// not grey); `why` says which.
enum class ImageOpen { OK, UNREADABLE, WRONG_SIZE, UNUSABLE };

struct OpenedImage {
    FIBITMAP* bitmap = nullptr;  // set only with OK; the caller unloads it
    ImageOpen status = ImageOpen::UNREADABLE;
    unsigned width = 0, height = 0;  // from the header, when it could be read
    std::string why;
    // An 8-bit image's values are palette indices: grey[i] is the grey that
    // index i shows (the identity for a plain grey ramp).
    bool palette = false;
    uint8_t grey[256] = {};
};

// A BMP file, opened only when it is a plain file and never in a way that
// can block. A header's size is judged before anything else, so a file that
// can never be 150 x 360 is WRONG_SIZE even while it is shorter than its
// header says; a file of fewer than two bytes, a header not yet whole or a
// file shorter than its header promises is UNREADABLE (it may be on its way)
// until it has stayed so, unchanged, for two minutes: then it is UNUSABLE.
OpenedImage open_image_file(const std::string& path);
// A BMP held in memory, judged as a file of these bytes.
OpenedImage open_image_memory(const uint8_t* data, size_t size);

}  // namespace pathapp
