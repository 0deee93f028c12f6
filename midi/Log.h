// The diagnostic channel: Qt logging categories, silent unless switched on
// with Qt's own QT_LOGGING_RULES, e.g. QT_LOGGING_RULES='zux.*=true'.
// Never log from a JACK process callback: logging allocates and locks.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(zuxAlsa)      // zux.midi.alsa
Q_DECLARE_LOGGING_CATEGORY(zuxJack)      // zux.midi.jack
Q_DECLARE_LOGGING_CATEGORY(zuxEngine)    // zux.midi.engine
Q_DECLARE_LOGGING_CATEGORY(zuxReceive)   // zux.receive
Q_DECLARE_LOGGING_CATEGORY(zuxTransmit)  // zux.transmit
