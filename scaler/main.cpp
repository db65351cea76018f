// Fitmire, the insole scaling program.
#include "scaler/scaler_window.h"

int main(int argc, char** argv) { return fitmire::run(argc, argv); }
