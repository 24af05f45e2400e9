#pragma once
#include "print/PrintLayout.h"

class TextSource;

// The step figures under the curves page's plot: a head of two lines (each figure's name, then its
// unit), one row a step as far as a third of the plot's frame reaches, and "and N more steps" for
// the rest; the plot's frame gives up that room, and its flow curve carries the steps' marks.
// Nothing when the recording has no step (or its channels show no setpoint and flow).
void AddStepRows(PrintedPage& page, const PrintProject& project, PageGeometry g, const TextSource& texts);
