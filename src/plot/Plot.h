#pragma once
// Our plot widget for every chart of the program (trend, curve, log time
// plot): the arithmetic behind it lives in PlotMath (ticks, scales, hit
// testing, downsampling, no Qt), the widget in ui/PlotWidget.
#include "plot/PlotMath.h"
#include "plot/PlotRaster.h"
