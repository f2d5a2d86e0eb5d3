// Online autotuning: the 16 × 16 work-point tables filled from the firmware
// image (TuningTables, TuningCore::addtabl), the work-point search with
// stationarity and the learning step that moves the fuel correction and the
// base air charge of a cell and hands its byte to the ECU worker
// (TuningCore::calculations). No Qt here.
//
// How it is driven: the tuning panel (tuning/ui/TuningPanel) implements
// TuningView over its grid and hands the window's labels and status bar on,
// and hands the cells to the image through ImageMailbox; after every image fill the
// window calls addtabl with the image and the grid labels; on every engine
// tick with a new poll, while a firmware image is loaded, it calls
// calculations(values, NarrowBandMode, image, mixtureUsable).
#pragma once
#include "tuning/ImageMailbox.h"
#include "tuning/TuningCore.h"
#include "tuning/TuningSeams.h"
#include "tuning/TuningTables.h"
#include "tuning/TuningTexts.h"
