// FreeImage opening of BMP files with the size checked on the header first,
// so a file that claims a huge picture is refused without allocating it.
#include "pathapp/image_file.h"

#include "pathapp/pressure_image.h"

namespace pathapp {

namespace {
template <class Load>
OpenedImage open_checked(FREE_IMAGE_FORMAT fif, Load load) {
    OpenedImage out;
    // The station's images are BMP; FreeImage's readers of other formats
    // (XPM among them) read and write past their buffers on broken files.
    if (fif != FIF_BMP) return out;
    if (FreeImage_FIFSupportsNoPixels(fif)) {
        FIBITMAP* head = load(FIF_LOAD_NOPIXELS);
        if (!head) return out;
        out.width = FreeImage_GetWidth(head);
        out.height = FreeImage_GetHeight(head);
        FreeImage_Unload(head);
        if (out.width != static_cast<unsigned>(IMAGE_W) || out.height != static_cast<unsigned>(IMAGE_H)) {
            out.status = ImageOpen::WRONG_SIZE;
            return out;
        }
    }
    FIBITMAP* bmp = load(0);
    if (!bmp) return out;
    out.width = FreeImage_GetWidth(bmp);
    out.height = FreeImage_GetHeight(bmp);
    if (out.width != static_cast<unsigned>(IMAGE_W) || out.height != static_cast<unsigned>(IMAGE_H) ||
        !FreeImage_HasPixels(bmp) || FreeImage_GetPitch(bmp) < static_cast<unsigned>(IMAGE_W * (FreeImage_GetBPP(bmp) / 8))) {
        FreeImage_Unload(bmp);
        out.status = ImageOpen::WRONG_SIZE;
        return out;
    }
    out.bitmap = bmp;
    out.status = ImageOpen::OK;
    return out;
}
}  // namespace

OpenedImage open_image_file(const std::string& path) {
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
    return open_checked(fif, [&](int flags) { return FreeImage_Load(fif, path.c_str(), flags); });
}

OpenedImage open_image_memory(const uint8_t* data, size_t size) {
    FIMEMORY* mem = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (!mem) return OpenedImage();
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileTypeFromMemory(mem, 0);
    OpenedImage out = open_checked(fif, [&](int flags) {
        FreeImage_SeekMemory(mem, 0, SEEK_SET);
        return FreeImage_LoadFromMemory(fif, mem, flags);
    });
    FreeImage_CloseMemory(mem);
    return out;
}

}  // namespace pathapp
