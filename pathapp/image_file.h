// Opening insole images with FreeImage: the header is checked for the
// accepted 150 x 360 size before any pixel is decoded.
#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace pathapp {

enum class ImageOpen { OK, UNREADABLE, WRONG_SIZE };

struct OpenedImage {
    FIBITMAP* bitmap = nullptr;  // set only with OK; the caller unloads it
    ImageOpen status = ImageOpen::UNREADABLE;
    unsigned width = 0, height = 0;  // from the header, when it could be read
};

// A file of the type FreeImage detects for it (else by its name); only BMP
// is decoded, any other type is UNREADABLE.
OpenedImage open_image_file(const std::string& path);
// A BMP held in memory.
OpenedImage open_image_memory(const uint8_t* data, size_t size);

}  // namespace pathapp
