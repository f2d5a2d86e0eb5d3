// Calibration maps: a map description (any XML file) names the calibration
// tables of the firmware image, where they lie and how their raw bytes turn
// into physical values. This folder loads it (MapDocument), builds the tree
// the user picks tables from (MapTree), decodes and encodes single values
// and curves (TableCodec) and hands edited tables to the ECU worker
// (WriteBack). The editor window part is maps/ui/CalibrationPanel.
//
// A table write, as the editor runs it:
//   PreparedWrite w = PrepareTableWrite(attributes, boxes, curveCells);
//   if (!w.error.empty()) { tell the user; nothing is stored or handed over }
//   StoreInImage(w.write, image);  then correct1D or correct2D, then save.
#pragma once
#include "maps/MapDocument.h"
#include "maps/MapNumbers.h"
#include "maps/TableCodec.h"
#include "maps/WriteBack.h"
