// RECEIVE, STOP, the 100 ms poll and the teardown of the input port.
#include "receive/Reception.h"

#include <cstring>

#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include "app/PortErrorBox.h"
#include "app/TaskIcon.h"
#include "app/Unit1.h"
#include "midi/Log.h"
#include "midi/TransferState.h"
#include "receive/ReceptionSteps.h"
#include "vcl/BitBtn.h"
#include "vcl/Memo.h"

namespace {

// True from a successful open until the teardown has closed the port.
bool inputOpen = false;

// The KiB gathered so far, as the program's icon in the dock shows them.
qint64 shownKiB = -1;

void ShowGathered(TForm1& form) {
    const qint64 kib = (DataLen.load() + MidiHdrRecorded(MidiHdr)) / 1024;
    if (kib == shownKiB) return;
    shownKiB = kib;
    form.taskIcon().showCount(kib);
}

// Stop and reset hand a queued header back to the callback; the pause lets it
// finish with it before the header is unprepared and its block released.
void TearDownInput() {
    midiInStop(hMidiIn);
    midiInReset(hMidiIn);
    Sleep(100);
    midiInUnprepareHeader(hMidiIn, &MidiHdr, sizeof(MIDIHDR));
    midiInClose(hMidiIn);
    inputOpen = false;
    ReleaseBlock(reinterpret_cast<unsigned char*>(MidiHdr.lpData));
    MidiHdr.lpData = nullptr;
}

}  // namespace

void TForm1::Button2Click(QObject*) {
    DevId = static_cast<UINT>(ComboBox2->itemData(ComboBox2->currentIndex()).toInt());
    LastResult = midiInOpen(&hMidiIn, DevId, reinterpret_cast<DWORD_PTR>(&MidiInProc), 0,
                            CALLBACK_FUNCTION);
    if (LastResult != MMSYSERR_NOERROR) {
        ShowPortError(PortKind::Input, LastResult);
        return;
    }

    // Both blocks are taken before anything else changes, so a failure leaves
    // the program as it was.
    unsigned char* headerBlock = TakeBlock();
    unsigned char* dataBlock = headerBlock ? TakeBlock() : nullptr;
    if (!dataBlock) {
        midiInClose(hMidiIn);
        ReleaseBlock(headerBlock);
        ShowPortError(PortKind::Input, MMSYSERR_NOMEM);
        return;
    }
    inputOpen = true;

    std::memset(&MidiHdr, 0, sizeof MidiHdr);
    MidiHdr.lpData = reinterpret_cast<LPSTR>(headerBlock);
    MidiHdr.dwBufferLength = DataBlockSize;
    MidiHdr.dwFlags = 0;
    DataBuf = dataBlock;
    midiInPrepareHeader(hMidiIn, &MidiHdr, sizeof(MIDIHDR));
    midiInAddBuffer(hMidiIn, &MidiHdr, sizeof(MIDIHDR));

    DataLen.store(0);
    LongDataCount.store(0);
    StopRequest.store(0);
    DumpCut.store(false);
    InputDamaged.store(false);
    PortLost.store(false);
    vcl::MemoLinesAdd(Memo1, QStringLiteral("RECEIVE:waiting"));
    shownKiB = -1;
    ShowGathered(*this);
    midiInStart(hMidiIn);
    Timer1->start();

    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    BitBtn1->setEnabled(true);
}

void TForm1::BitBtn1Click(QObject*) {
    StopRequest.store(1);
    BitBtn1->setEnabled(false);
}

void TForm1::Timer1Timer(QObject*) {
    if (!inputOpen) {  // a tick left over from a reception already ended
        Timer1->stop();
        return;
    }
    // Judged before the teardown, whose reset hands back a partly filled
    // header: a dump cut short by a lost port must not look complete.
    const bool complete = LongDataCount.load() >= 2 || MarkerSeen() || DumpFull();
    if (StopRequest.load() == 0 && !complete && !InputDamaged.load() && !PortLost.load()) {
        ShowGathered(*this);
        return;
    }

    Timer1->stop();
    TearDownInput();

    const char* ended = nullptr;
    if (StopRequest.load() != 0)
        ended = "RECEIVE:canceled";
    else if (InputDamaged.load())
        ended = "RECEIVE:data was lost, try again";
    else if (!complete)
        ended = "RECEIVE:the port was lost";
    if (ended) {
        qCDebug(zuxReceive) << "ended after" << DataLen.load() << "bytes:" << ended;
        EndOfReception(*this);
        vcl::MemoLinesAdd(Memo1, QString::fromLatin1(ended));
        return;
    }
    SaveReceivedDump(*this);
}

void EndOfReception(TForm1& form) {
    ReleaseBlock(DataBuf);
    DataBuf = nullptr;
    form.taskIcon().hideCount();
    form.BitBtn1->setEnabled(false);
    form.Button2->setEnabled(true);
    form.Button3->setEnabled(true);
    if (form.ComboBox1->currentIndex() != -1) form.Button1->setEnabled(true);
}

void EndReceptionOnExit() {
    if (!inputOpen) return;
    if (Form1) Form1->Timer1->stop();
    // As STOP would: the callback must not queue the header again while the
    // teardown hands it back, or the port could not be closed.
    StopRequest.store(1);
    TearDownInput();
    ReleaseBlock(DataBuf);
    DataBuf = nullptr;
}
