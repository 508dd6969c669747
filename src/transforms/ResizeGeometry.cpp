#include "transforms/ResizeGeometry.h"

// Not built yet: the run goes on with the picture unchanged.
bool CutToSize(Picture&, int, int, int, int) { return false; }
bool FillToSize(Picture&, int, int, int, int) { return false; }
void ChangeDpi(Picture&, int) {}
