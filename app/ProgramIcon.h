#pragma once
#include "ui/IconImage.h"

// Icon 128, the program's own: a trace of traffic across a dark screen, drawn in code so the
// program carries no image files.
IconImage ProgramIcon128();
