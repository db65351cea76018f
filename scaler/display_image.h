// Fitmire's image view: the OpenGL window that owns the insole state, runs
// the rebuild in its draw, shows the result and saves hand-off jobs. Not the
// path program's view of the same name; this one lives in namespace fitmire.
#pragma once

#include <FL/Fl_Gl_Window.H>

#include "insole_image.h"

namespace fitmire {

class GL_Display_Image : public Fl_Gl_Window, public InsoleImage {
public:
    // Position and label are fixed (30, 35, 150 x 360, no label); loads the
    // colour table, the pad stamp and the left template from the current directory.
    GL_Display_Image(int x, int y, int w, int h, const char* label = nullptr);
    ~GL_Display_Image() override;

    // Loads a template with the controls' values going through the widgets.
    void load_texture(const char* name, int side);
    void open_template_dialog(int side);

    void draw() override;
    int handle(int event) override;

private:
    int press_x_ = 0, press_y_ = 0;
};

}  // namespace fitmire
