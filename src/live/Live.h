// Live engine data: the 51-byte diagnostic frame decoded into LiveValues, the
// engine tick's bookkeeping (LC-1 merge, narrow-band flag, poll counters), the
// texts the dashboard, grid, trend and rate display show, the status bar's
// link cells and the live log files. Nothing here needs Qt; the views live in
// live/ui.
//
// One engine tick, as the window runs it:
//   const auto sensor = OxygenSensorFromSetting(settings "Датчик кислорода");
//   const TickOutcome t = decoder.Tick(frameCopy, numlog, sensor, lambdaSnapshot);
//   if (t.frameDecoded) { dashboard.Update(...); diagnostics.Update(..., t, ...); }
//   if (t.newPoll) { tuning step (it calls the trend update); log line; }
#pragma once
#include "live/FrameDecoder.h"
#include "live/LiveLogs.h"
#include "live/LiveTexts.h"
#include "live/LiveTick.h"
#include "live/LiveValues.h"
#include "live/StatusCells.h"
#include "live/Trend.h"
