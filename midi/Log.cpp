#include "midi/Log.h"

// Off by default: only what is switched on reaches stderr.
Q_LOGGING_CATEGORY(zuxAlsa, "zux.midi.alsa", QtWarningMsg)
Q_LOGGING_CATEGORY(zuxJack, "zux.midi.jack", QtWarningMsg)
Q_LOGGING_CATEGORY(zuxEngine, "zux.midi.engine", QtWarningMsg)
Q_LOGGING_CATEGORY(zuxReceive, "zux.receive", QtWarningMsg)
Q_LOGGING_CATEGORY(zuxTransmit, "zux.transmit", QtWarningMsg)
