#include "midi/transports/AlsaTransport.h"
#include "midi/transports/JackTransport.h"
#include "midi/Transport.h"

namespace midi {

void installSystemTransports() {
    // Found once and kept for the life of the program: the engine holds them,
    // and nothing may tear them down behind an open port at exit.
    static Transport* const alsa = AlsaTransport::create().release();
    static Transport* const jack = JackTransport::create().release();
    if (alsa && jack)
        setTransports({alsa, jack});
    else if (alsa)
        setTransports({alsa});
    else if (jack)
        setTransports({jack});
    else
        setTransports({});
}

}  // namespace midi
