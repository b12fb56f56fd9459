// The program's GUI entry: everything it is told here comes again from the
// command line, which the framework reads itself.
#include "saver_frame.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { SaverEntry(); }
