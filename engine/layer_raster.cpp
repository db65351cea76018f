// The layer raster: construction, frame-buffer set-up, the sample grid, the
// angle functions, the pressure and contour renders, threshold clean-up and
// disc clearing.
#include "engine/layer_raster.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/params.h"
#include "platform/platform.h"

namespace engine {

namespace {
constexpr double kPi = 3.14159265;
}

LayerRaster::LayerRaster() {
    img1 = new float[RASTER_CELLS];
    img2 = new float[RASTER_CELLS];
    std::printf("TEX_W %d TEX_W4 %d\n", RASTER_W, RASTER_W);
}

LayerRaster::~LayerRaster() {
    delete[] img1;
    delete[] img2;
}

// ---- frame buffer ----------------------------------------------------------

bool init_framebuffer(LayerRaster& r) {
    if (r.fbo != 0) return true;

    // Looked up by name, in this order, and installed where GLEW's macros call.
    struct Entry {
        const char* name;
        void** slot;
    };
    const Entry entries[] = {
        {"glGenFramebuffers", reinterpret_cast<void**>(&__glewGenFramebuffers)},
        {"glDeleteFramebuffers", reinterpret_cast<void**>(&__glewDeleteFramebuffers)},
        {"glBindFramebuffer", reinterpret_cast<void**>(&__glewBindFramebuffer)},
        {"glCheckFramebufferStatus", reinterpret_cast<void**>(&__glewCheckFramebufferStatus)},
        {"glGetFramebufferAttachmentParameteriv",
         reinterpret_cast<void**>(&__glewGetFramebufferAttachmentParameteriv)},
        {"glGenerateMipmap", reinterpret_cast<void**>(&__glewGenerateMipmap)},
        {"glFramebufferTexture2D", reinterpret_cast<void**>(&__glewFramebufferTexture2D)},
        {"glFramebufferRenderbuffer", reinterpret_cast<void**>(&__glewFramebufferRenderbuffer)},
        {"glGenRenderbuffers", reinterpret_cast<void**>(&__glewGenRenderbuffers)},
        {"glDeleteRenderbuffers", reinterpret_cast<void**>(&__glewDeleteRenderbuffers)},
        {"glBindRenderbuffer", reinterpret_cast<void**>(&__glewBindRenderbuffer)},
        {"glRenderbufferStorage", reinterpret_cast<void**>(&__glewRenderbufferStorage)},
        {"glGetRenderbufferParameteriv", reinterpret_cast<void**>(&__glewGetRenderbufferParameteriv)},
        {"glIsRenderbuffer", reinterpret_cast<void**>(&__glewIsRenderbuffer)},
    };
    void* found[14];
    bool all = true;
    for (int i = 0; i < 14; ++i) {
        found[i] = platform::gl_proc_address(entries[i].name);
        if (!found[i]) all = false;
    }
    // The lookup hands back a stub for any name on some systems, so the
    // context itself must say that it has frame-buffer objects.
    if (all)
        all = platform::gl_framebuffer_objects_offered(reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                                          reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)));
    if (!all) {
        std::printf("Video card does NOT supports GL_ARB_framebuffer_object. \n");
        return false;
    }
    for (int i = 0; i < 14; ++i) *entries[i].slot = found[i];
    std::printf("Video card supports GL_ARB_framebuffer_object. \n");

    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, r.width, r.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);

    GLuint fbo = 0, depth = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, r.width, r.height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);

    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    r.color_texture = tex;
    r.depth_renderbuffer = depth;
    r.fbo = fbo;
    return true;
}

// ---- sample grid -----------------------------------------------------------

void build_sample_grid(LayerRaster& r, int step) {
    if (step < 1) step = 1;  // a zero step would never leave the loops
    r.step = static_cast<float>(step);
    r.grid_columns = static_cast<int32_t>(std::ceil(static_cast<float>(RASTER_W) / r.step));
    r.grid_rows = static_cast<int32_t>(std::ceil(static_cast<float>(RASTER_H) / r.step));
    std::printf("point size (hori.) %d\n", r.grid_columns);
    std::printf("point size (vert.) %d\n", r.grid_rows);

    float ox = 0, oy = 0;
    if (pon(ck_offset_cross)) {
        if (r.row_lines == 1)
            oy = r.grid_offset;
        else
            ox = r.grid_offset;
    }
    r.grid.clear();
    r.grid.reserve(static_cast<size_t>(r.grid_columns) * r.grid_rows);
    for (int gy = 0; gy < RASTER_H; gy += step) {
        for (int gx = 0; gx < RASTER_W; gx += step) {
            PathPoint p;
            p.x = gx + ox;
            p.y = gy + oy;
            p.index = static_cast<int32_t>(r.grid.size());
            p.grid_x = p.x;
            p.grid_y = p.y;
            r.grid.push_back(p);
        }
    }
}

// ---- angles ----------------------------------------------------------------

namespace {
// acos in degrees, the argument held inside [-1, 1] so that rounding on nearly
// straight angles never gives NaN.
float acos_deg(float cosine) {
    if (cosine > 1.0f) cosine = 1.0f;
    if (cosine < -1.0f) cosine = -1.0f;
    return static_cast<float>(std::acos(cosine) * 180.0 / kPi);
}
}  // namespace

float polar_angle_deg(float x, float y) {
    if (y == 0) return x < 0 ? 180.0f : 0.0f;
    const float a = 300.0f;
    const float b = std::sqrt(x * x + y * y);
    const float c = std::sqrt((x - 300.0f) * (x - 300.0f) + y * y);
    const float theta = acos_deg((b * b + a * a - c * c) / (2 * a * b));
    return y > 0 ? theta : 360.0f - theta;
}

float vertex_angle_deg(const PathPoint& p1, const PathPoint& p2, const PathPoint& p3) {
    const float a = std::sqrt((p1.x - p2.x) * (p1.x - p2.x) + (p1.y - p2.y) * (p1.y - p2.y));
    const float b = std::sqrt((p1.x - p3.x) * (p1.x - p3.x) + (p1.y - p3.y) * (p1.y - p3.y));
    const float c = std::sqrt((p2.x - p3.x) * (p2.x - p3.x) + (p2.y - p3.y) * (p2.y - p3.y));
    if (a == 0 || c == 0) return 0.0f;
    return acos_deg((c * c + a * a - b * b) / (2 * a * c));
}

// ---- pressure and contour planes --------------------------------------------

void read_luminance(int w, int h, uint8_t* out) {
    // The renderer converts to luminance slowly, so the colour bytes are
    // read as they are and summed here, as the conversion sums them.
    if (w <= 0 || h <= 0) return;
    static std::vector<uint8_t> rgba;
    rgba.resize((size_t)w * (size_t)h * 4);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glPopClientAttrib();
    const uint8_t* p = rgba.data();
    for (size_t i = 0, n = (size_t)w * (size_t)h; i < n; ++i, p += 4) {
        const int sum = p[0] + p[1] + p[2];
        out[i] = (uint8_t)(sum > 255 ? 255 : sum);
    }
}

namespace {

// Draws a 360-row luminance image of `columns` columns over the 150 x 360
// quad, turned by `turn_deg` about the model box centre placed on cell
// (150, 180), and reads the raster back into `plane`.
void render_turned_image(const LayerRaster& r, const uint8_t* image, int columns, unsigned texture,
                         const ModelBox& box, float turn_deg, Plane& plane) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    if (!image) {
        for (int i = 0; i < RASTER_CELLS; ++i) plane[i] = 0;
        return;
    }
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // the image rows are 152 bytes
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);

    glViewport(0, 0, RASTER_W, RASTER_H);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, RASTER_W, 0, RASTER_H, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glColor3f(1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, columns, RASTER_H, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, image);

    glPushMatrix();
    glTranslatef(150, 180, 0);
    glRotatef(turn_deg, 0, 0, 1);
    glTranslatef(-(box.model_min_x + box.model_max_x) / 2, -(box.model_min_y + box.model_max_y) / 2, 0);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, 0);
    glTexCoord2f(1, 0);
    glVertex2f(150, 0);
    glTexCoord2f(1, 1);
    glVertex2f(150, 360);
    glTexCoord2f(0, 1);
    glVertex2f(0, 360);
    glEnd();
    glPopMatrix();
    glDisable(GL_TEXTURE_2D);

    read_luminance(r.width <= RASTER_W ? r.width : RASTER_W, r.height <= RASTER_H ? r.height : RASTER_H, plane);
    glPopClientAttrib();
    glPopAttrib();
}

}  // namespace

void render_pressure_plane(LayerRaster& r, const uint8_t* slope_image, unsigned image_texture, const ModelBox& box) {
    render_turned_image(r, slope_image, 152, image_texture, box, -45.0f, r.pressure_plane);
}

void render_contour_plane(LayerRaster& r, const uint8_t* contour_image, unsigned image_texture, const ModelBox& box) {
    r.contour_sign = -r.contour_sign;
    render_turned_image(r, contour_image, 150, image_texture, box, r.contour_sign * -75.0f, r.contour_plane);
}

// ---- clean-ups on plain planes -----------------------------------------------

void apply_slope_threshold(LayerRaster& r, float threshold, uint8_t* test_pixels) {
    for (int i = 0; i < RASTER_CELLS; ++i) {
        if (!(r.pressure_plane[i] > threshold) && r.layer_plane[i] != 0) {
            std::printf("(origin,slope)=(%d,%d)\n", r.layer_plane[i], r.pressure_plane[i]);
            if (r.layer_plane[i] == r.pressure_plane[i]) r.layer_plane[i] = 0;
        }
    }
    if (!test_pixels) return;
    for (int row = 0; row < RASTER_H; ++row)
        for (int col = 0; col < 150; ++col) test_pixels[row * 152 + col] = r.pressure_plane[row * RASTER_W + col];
}

void clear_disc(LayerRaster& r, int cx, int cy, int base_radius) {
    const float layer = static_cast<float>(pval(va_layer_index));
    const float shrink = layer / 31.0f;
    const float radius = base_radius - 15.0f * std::exp(-4.0f * shrink * shrink);
    if (!(layer > 3)) return;
    // The loops start where the disc's square starts, but never before the
    // raster's first row or column, and stop at its last.
    auto first_cell = [](float lo, int limit) {
        if (!(lo > 0)) return 0;
        return lo >= limit ? limit : static_cast<int>(lo);
    };
    const int j0 = first_cell(cy - radius, RASTER_H);
    const int i0 = first_cell(cx - radius, RASTER_W);
    for (int j = j0; j < RASTER_H && j < cy + radius; ++j) {
        for (int i = i0; i < RASTER_W && i < cx + radius; ++i) {
            const float dx = static_cast<float>(cx - i), dy = static_cast<float>(cy - j);
            if (std::sqrt(dx * dx + dy * dy) <= radius) r.layer_plane[j * RASTER_W + i] = 0;
        }
    }
}

}  // namespace engine
