// The ECU link: ISO 14230 framing, the K-line exchange and session on a
// serial port, and the worker thread that polls the ECU and reads and
// writes its memory on the window's commands. No Qt here.
#pragma once
#include "ecu/ECUThread.h"
#include "ecu/EcuLink.h"
#include "ecu/Frame.h"
#include "ecu/RamSync.h"
#include "ecu/Shared.h"
#include "ecu/UiLog.h"
