// FreeImage opening of BMP files with the size checked on the header first,
// so a file that claims a huge picture is refused without allocating it, and
// only plain files opened, so a FIFO or a device never holds the program.
#include "pathapp/image_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/file_util.h"
#include "pathapp/pressure_image.h"

namespace pathapp {

namespace {
// An uncompressed BMP shorter than the pixel rows its header promises is
// still being written, or was cut off: decoding it would make a job of part
// of a foot, so it is left where it is for a later run.
bool bmp_shorter_than_header(const uint8_t* h, size_t have, uint64_t total) {
    if (have < 54 || h[0] != 'B' || h[1] != 'M') return false;
    auto u32 = [&](int at) {
        return static_cast<uint32_t>(h[at]) | static_cast<uint32_t>(h[at + 1]) << 8 |
               static_cast<uint32_t>(h[at + 2]) << 16 | static_cast<uint32_t>(h[at + 3]) << 24;
    };
    const uint32_t info_size = u32(14), compression = u32(30);
    const int64_t width = static_cast<int32_t>(u32(18)), height = static_cast<int32_t>(u32(22));
    const unsigned bpp = static_cast<unsigned>(h[28]) | static_cast<unsigned>(h[29]) << 8;
    // Older headers and run-length coding: their length is not known ahead.
    if (info_size < 40 || (compression != 0 && compression != 3)) return false;
    if (width <= 0 || height == 0 || bpp == 0) return false;
    const uint64_t pitch = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    return total < static_cast<uint64_t>(u32(10)) + pitch * rows;
}

// The picture size a BMP header gives (the old 12-byte header or a later
// one); false when the header is not all there.
bool bmp_header_size(const uint8_t* h, size_t have, int64_t& w, int64_t& ht) {
    if (have < 18 || h[0] != 'B' || h[1] != 'M') return false;
    const uint32_t info_size = static_cast<uint32_t>(h[14]) | static_cast<uint32_t>(h[15]) << 8 |
                               static_cast<uint32_t>(h[16]) << 16 | static_cast<uint32_t>(h[17]) << 24;
    if (info_size == 12) {
        if (have < 22) return false;
        w = h[18] | h[19] << 8;
        ht = h[20] | h[21] << 8;
        return true;
    }
    if (info_size < 40 || have < 26) return false;
    auto i32 = [&](int at) {
        return static_cast<int32_t>(static_cast<uint32_t>(h[at]) | static_cast<uint32_t>(h[at + 1]) << 8 |
                                    static_cast<uint32_t>(h[at + 2]) << 16 | static_cast<uint32_t>(h[at + 3]) << 24);
    };
    w = i32(18);
    ht = i32(22);
    if (ht < 0) ht = -ht;  // rows stored top first
    return true;
}

// A header whose size is not 150 x 360 can never become a job, however
// much of the file comes later.
bool bmp_wrong_size(const uint8_t* h, size_t have, OpenedImage& out) {
    int64_t w = 0, ht = 0;
    if (!bmp_header_size(h, have, w, ht) || (w == IMAGE_W && ht == IMAGE_H)) return false;
    out.width = static_cast<unsigned>(w < 0 ? 0 : w > 0xffffffff ? 0xffffffff : w);
    out.height = static_cast<unsigned>(ht > 0xffffffff ? 0xffffffff : ht);
    out.status = ImageOpen::WRONG_SIZE;
    return true;
}

// Only grey heights can be read: fewer than 8 bits a pixel hold none, and
// an 8-bit image's indices are read through a palette that must be grey.
bool judge_pixels(FIBITMAP* bmp, OpenedImage& out) {
    const unsigned bpp = FreeImage_GetBPP(bmp);
    char why[96];
    // A 16-bit pixel's first byte mixes two colours' bits: no height.
    if (bpp != 8 && bpp != 24 && bpp != 32) {
        std::snprintf(why, sizeof why, "a %u-bit image holds no height values", bpp);
        out.why = why;
        return false;
    }
    if (bpp != 8) return true;
    const RGBQUAD* pal = FreeImage_GetPalette(bmp);
    const unsigned n = std::min(FreeImage_GetColorsUsed(bmp), 256u);
    for (unsigned i = 0; i < 256; ++i) out.grey[i] = static_cast<uint8_t>(i);
    if (!pal) return true;
    for (unsigned i = 0; i < n; ++i) {
        if (pal[i].rgbRed != pal[i].rgbGreen || pal[i].rgbGreen != pal[i].rgbBlue) {
            std::snprintf(why, sizeof why, "its palette is not grey (entry %u is %u, %u, %u)", i, pal[i].rgbRed,
                          pal[i].rgbGreen, pal[i].rgbBlue);
            out.why = why;
            return false;
        }
        out.grey[i] = pal[i].rgbBlue;
    }
    out.palette = true;
    return true;
}

OpenedImage incomplete(const char* what) {
    OpenedImage out;
    out.why = what;
    return out;
}

// Whether the part of the header that says how long the file must be has
// come; a file cut before it may still be on its way.
bool bmp_header_whole(const uint8_t* h, size_t have) {
    if (have < 18) return false;
    const uint32_t info_size = static_cast<uint32_t>(h[14]) | static_cast<uint32_t>(h[15]) << 8 |
                               static_cast<uint32_t>(h[16]) << 16 | static_cast<uint32_t>(h[17]) << 24;
    if (info_size == 12) return have >= 26;
    return info_size < 40 || have >= 54;
}

template <class Load>
OpenedImage open_checked(Load load) {
    OpenedImage out;
    FIBITMAP* head = load(FIF_LOAD_NOPIXELS);
    if (!head) return out;
    out.width = FreeImage_GetWidth(head);
    out.height = FreeImage_GetHeight(head);
    FreeImage_Unload(head);
    if (out.width != static_cast<unsigned>(IMAGE_W) || out.height != static_cast<unsigned>(IMAGE_H)) {
        out.status = ImageOpen::WRONG_SIZE;
        return out;
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
    if (!judge_pixels(bmp, out)) {
        FreeImage_Unload(bmp);
        out.status = ImageOpen::UNUSABLE;
        return out;
    }
    out.bitmap = bmp;
    out.status = ImageOpen::OK;
    return out;
}

OpenedImage unusable(const char* why) {
    OpenedImage out;
    out.status = ImageOpen::UNUSABLE;
    out.why = why;
    return out;
}

// The judgement shared by files and memory, from the first bytes and the
// whole length. Only BMP is decoded: FreeImage's readers of other formats
// (XPM among them) read and write past their buffers on broken files.
template <class Load>
OpenedImage judge_and_open(const uint8_t* head, size_t have, uint64_t total, Load load) {
    if (total < 2) return incomplete("fewer than two bytes");  // nothing to judge yet
    if (head[0] != 'B' || head[1] != 'M') return unusable("not a BMP file (it does not start with \"BM\")");
    OpenedImage wrong;
    if (bmp_wrong_size(head, have, wrong)) return wrong;
    if (!bmp_header_whole(head, have)) return incomplete("its header is not whole");
    if (bmp_shorter_than_header(head, have, total)) return incomplete("shorter than its header says");
    OpenedImage out = open_checked(load);
    // All of it is there: a later run would fail the same way.
    if (out.status == ImageOpen::UNREADABLE) return unusable("a BMP that cannot be decoded");
    return out;
}

// A file still incomplete and unchanged this long is no longer being
// written: left waiting, it would have the path program started for it at
// every cycle of the server, for ever.
constexpr long kStalledSeconds = 120;

// The line for a file left waiting, or its refusal once it has stalled.
OpenedImage wait_or_refuse(OpenedImage out, const std::string& name, uint64_t total, long unchanged_for) {
    if (out.status != ImageOpen::UNREADABLE || out.why.empty()) return out;
    if (unchanged_for > kStalledSeconds) {
        char why[128];
        std::snprintf(why, sizeof why, "incomplete (%s, %llu bytes) and unchanged for over %ld s", out.why.c_str(),
                      static_cast<unsigned long long>(total), kStalledSeconds);
        return unusable(why);
    }
    std::printf("%s: %s (still being written?); left for a later run\n", name.c_str(), out.why.c_str());
    return out;
}

unsigned DLL_CALLCONV io_read(void* buffer, unsigned size, unsigned count, fi_handle h) {
    return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<FILE*>(h)));
}
unsigned DLL_CALLCONV io_write(void*, unsigned, unsigned, fi_handle) { return 0; }
int DLL_CALLCONV io_seek(fi_handle h, long offset, int origin) { return std::fseek(static_cast<FILE*>(h), offset, origin); }
long DLL_CALLCONV io_tell(fi_handle h) { return std::ftell(static_cast<FILE*>(h)); }
}  // namespace

OpenedImage open_image_file(const std::string& path) {
    std::string kind;
    uint64_t total = 0;
    const int fd = common::open_plain_file(path, kind, total);
    if (fd < 0) {
        if (kind.empty()) return OpenedImage();
        OpenedImage out = unusable("");
        out.why = kind + ", not an image file";
        return out;
    }
    struct stat st {};
    const long unchanged_for = ::fstat(fd, &st) == 0 ? static_cast<long>(std::time(nullptr) - st.st_mtime) : 0;
    FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return OpenedImage();
    }
    uint8_t head[54] = {};
    const size_t have = std::fread(head, 1, sizeof head, f);
    FreeImageIO io{io_read, io_write, io_seek, io_tell};
    OpenedImage out = judge_and_open(head, have, total, [&](int flags) -> FIBITMAP* {
        if (std::fseek(f, 0, SEEK_SET) != 0) return nullptr;
        return FreeImage_LoadFromHandle(FIF_BMP, &io, static_cast<fi_handle>(f), flags);
    });
    std::fclose(f);
    return wait_or_refuse(out, path, total, unchanged_for);
}

OpenedImage open_image_memory(const uint8_t* data, size_t size) {
    FIMEMORY* mem = FreeImage_OpenMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (!mem) return OpenedImage();
    OpenedImage out = judge_and_open(data, std::min<size_t>(size, 54), size, [&](int flags) {
        FreeImage_SeekMemory(mem, 0, SEEK_SET);
        return FreeImage_LoadFromMemory(FIF_BMP, mem, flags);
    });
    FreeImage_CloseMemory(mem);
    return wait_or_refuse(out, "image in memory", size, 0);
}

}  // namespace pathapp
