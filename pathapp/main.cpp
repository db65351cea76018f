// Strandel, the path program: builds its windows, reads the station's job
// list and runs the event loop in which all other work happens.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <GL/freeglut.h>

#include <cstdio>

#include "pathapp/app.h"
#include "pathapp/views.h"

int main(int argc, char** argv) {
    using namespace pathapp;
    // The console is read live by whoever watches the station.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    use_cjk_font();
    // GLUT's bitmap font (the test view's labels) needs GLUT set up first.
    int glut_argc = 1;
    char* glut_argv[] = {argv[0], nullptr};
    glutInit(&glut_argc, glut_argv);

    build_windows();
    image_view->read_bmp_list();
    if (image_view->bmp_count > 0) start_batch_mode();
    main_window->show(argc, argv);
    return Fl::run();
}
