// Seams to the operating system: serial ports and their listing, text code
// pages, locale number text, clock/sleep and the bridge to the UI thread.
// Nothing here includes Qt; the Qt-side pieces live in platform/qt.
#pragma once
#include "platform/Clock.h"
#include "platform/NumberText.h"
#include "platform/PortList.h"
#include "platform/SerialPort.h"
#include "platform/TextCodec.h"
#include "platform/UiBridge.h"
