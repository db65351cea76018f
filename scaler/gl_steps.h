// Fitmire's OpenGL steps, one function each: the scratch frame buffer the
// rebuild renders into, the texture, drawing a plane as a textured quad and
// reading a colour channel back into plain bytes.
#pragma once

namespace fitmire {

// Size of the scratch frame buffer: room for a 152 x 360 plane and a pad stamp.
constexpr int kScratchW = 256;
constexpr int kScratchH = 360;

// The one texture of the view: nearest filtering, clamped. 0 on failure.
unsigned gl_create_texture();

// Binds the scratch frame buffer (made once per context) with a pixel-exact
// projection 0..kScratchW x 0..kScratchH and an identity model-view; the
// previous binding, viewport and matrices come back with gl_scratch_end.
// False (and a console line) when frame-buffer objects are not available.
bool gl_scratch_begin();
void gl_scratch_end();
// Makes gl_scratch_begin fail as it does on a display without frame-buffer
// objects, so the paths that must cope with that can be run anywhere.
void gl_scratch_refuse(bool refuse);

void gl_clear_black();

// Loads pixels (luminance, rows 4-byte aligned) into texture and draws one
// quad with texture corners (1,1), (0,1), (0,0), (1,0) at (x1,y1), (x0,y1),
// (x0,y0), (x1,y0). Texturing is off again afterwards.
void gl_draw_textured_quad(unsigned texture, const unsigned char* pixels, int tex_w, int tex_h, float x0, float y0,
                           float x1, float y1);

// Reads w x h pixels from (0, 0) of one channel (0 red, 2 blue) as bytes,
// rows 4-byte aligned.
void gl_read_channel(int channel, int w, int h, unsigned char* out);

}  // namespace fitmire
