// TRANSMIT: read a dump file whole and send it to the chosen output port as
// one long message.
#include <cstdio>
#include <cstring>

#include <QComboBox>
#include <QFile>
#include <QPushButton>

#include "app/PortErrorBox.h"
#include "app/TaskIcon.h"
#include "app/Unit1.h"
#include "midi/Log.h"
#include "midi/TransferState.h"
#include "transmit/ReadDumpFile.h"
#include "transmit/SendLongMessage.h"
#include "vcl/FileDialogs.h"
#include "vcl/Memo.h"

namespace {

void ReleaseDataBuf() {
    ReleaseBlock(DataBuf);
    DataBuf = nullptr;
}

}  // namespace

void TForm1::Button1Click(QObject*) {
    DevId = static_cast<UINT>(ComboBox1->itemData(ComboBox1->currentIndex()).toInt());
    Button2->setEnabled(false);
    vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:start"));

    // Whatever happens, RECEIVE comes back when its list has a selection.
    const auto end = [this] {
        if (ComboBox2->currentIndex() != -1) Button2->setEnabled(true);
    };

    if (!OpenDialog1->Execute()) {
        vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:canceled"));
        return end();
    }
    const QString fileName = OpenDialog1->FileName;
    FILE* file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (!file) {
        vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:can not open the file(") + fileName + ")");
        return end();
    }

    DataBuf = TakeBlock();
    DataLen.store(0);
    FileRead read = FileRead::Failed;
    if (DataBuf) {
        std::uint32_t length = 0;
        read = ReadDumpFile(file, DataBuf, DataBlockSize, length);
        DataLen.store(length);
    } else {
        std::fclose(file);
    }
    if (read != FileRead::Ok) {
        ReleaseDataBuf();
        vcl::MemoLinesAdd(Memo1, read == FileRead::CloseFailed
                                     ? QStringLiteral("TRANSMIT:failed to close the file")
                                     : QStringLiteral("TRANSMIT:failed to read the data"));
        return end();
    }

    HMIDIOUT hMidiOut = nullptr;
    LastResult = midiOutOpen(&hMidiOut, DevId, 0, 0, CALLBACK_NULL);
    if (LastResult != MMSYSERR_NOERROR) {
        ShowPortError(PortKind::Output, LastResult);
        ReleaseDataBuf();
        vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:canceled"));
        return end();
    }

    std::memset(&MidiHdr, 0, sizeof MidiHdr);
    MidiHdr.lpData = reinterpret_cast<LPSTR>(DataBuf);
    MidiHdr.dwBufferLength = DataLen.load();
    MidiHdr.dwFlags = 0;
    vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:executing"));

    TaskIcon& icon = taskIcon();
    const double length = MidiHdr.dwBufferLength;
    icon.showProgress(0.0);
    const bool sent = SendLongMessage(hMidiOut, MidiHdr, [&](DWORD out) { icon.showProgress(out / length); });
    icon.hideProgress();
    qCDebug(zuxTransmit) << (sent ? "sent" : "failed after") << MidiHdrOffset(MidiHdr) << "of"
                         << MidiHdr.dwBufferLength << "bytes of" << fileName;
    if (sent) {
        midiOutUnprepareHeader(hMidiOut, &MidiHdr, sizeof(MIDIHDR));
        ReleaseDataBuf();
        midiOutReset(hMidiOut);
        midiOutClose(hMidiOut);
        vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:completed(%1byte)").arg(DataLen.load()));
    } else {
        // The reset hands the header back, so the block is free to go.
        midiOutReset(hMidiOut);
        midiOutUnprepareHeader(hMidiOut, &MidiHdr, sizeof(MIDIHDR));
        ReleaseDataBuf();
        midiOutClose(hMidiOut);
        vcl::MemoLinesAdd(Memo1, QStringLiteral("TRANSMIT:failed to send the data"));
    }
    end();
}
