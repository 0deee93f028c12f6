// The two port lists: filled once when the window is created; a selection
// enables the button that uses the list.
#include <cstring>

#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include "app/Unit1.h"
#include "midi/TransferState.h"

namespace {

QString PortName(const char (&szPname)[MAXPNAMELEN]) {
    return QString::fromLocal8Bit(szPname, static_cast<qsizetype>(strnlen(szPname, MAXPNAMELEN)));
}

// The device ID rides as the entry's data; -1 is the mapper.
void AddEntry(QComboBox* list, const QString& text, UINT deviceId) {
    list->addItem(text, QVariant(static_cast<qint32>(deviceId)));
}

}  // namespace

void TForm1::FormCreate(QObject*) {
    // Filling an empty Qt combo selects its first entry; the lists must start
    // with nothing selected and without running the selection handlers.
    const QSignalBlocker blockOut(ComboBox1);
    const QSignalBlocker blockIn(ComboBox2);

    const UINT outputs = midiOutGetNumDevs();
    for (DevId = 0; DevId < outputs; ++DevId) {
        MIDIOUTCAPSA caps{};
        LastResult = midiOutGetDevCapsA(DevId, &caps, sizeof caps);
        if (LastResult == MMSYSERR_NOERROR) AddEntry(ComboBox1, PortName(caps.szPname), DevId);
    }
    AddEntry(ComboBox1, QStringLiteral("MIDI Mapper"), MIDI_MAPPER);

    const UINT inputs = midiInGetNumDevs();
    for (DevId = 0; DevId < inputs; ++DevId) {
        MIDIINCAPSA caps{};
        LastResult = midiInGetDevCapsA(DevId, &caps, sizeof caps);
        if (LastResult == MMSYSERR_NOERROR) AddEntry(ComboBox2, PortName(caps.szPname), DevId);
    }

    ComboBox1->setCurrentIndex(-1);
    ComboBox2->setCurrentIndex(-1);
}

// Timer1 runs exactly while a reception waits for its data; the transfer state
// serves one operation at a time, so nothing is enabled then.
void TForm1::ComboBox2Change(QObject*) {
    if (Timer1->isActive()) return;
    Button2->setEnabled(ComboBox2->currentIndex() != -1);
}

void TForm1::ComboBox1Change(QObject*) {
    if (Timer1->isActive()) return;
    Button1->setEnabled(ComboBox1->currentIndex() != -1);
}
