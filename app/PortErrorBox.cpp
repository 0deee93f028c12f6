#include "app/PortErrorBox.h"

#include <cstring>

#include "midi/TransferState.h"
#include "vcl/Application.h"

void ShowPortError(PortKind kind, MMRESULT result) {
    if (kind == PortKind::Input)
        midiInGetErrorTextA(result, ErrText, sizeof ErrText);
    else
        midiOutGetErrorTextA(result, ErrText, sizeof ErrText);
    const std::size_t used = std::strlen(ErrText);
    if (used + 2 < sizeof ErrText) {
        char* reason = ErrText + used + 1;
        midiGetSystemReasonA(reason, static_cast<UINT>(sizeof ErrText - used - 1));
        if (*reason) ErrText[used] = '\n';  // the reason follows on a line of its own
    }
    vcl::Application->MessageBox(QString::fromLocal8Bit(ErrText), QStringLiteral("error"), vcl::MB_OK);
}
