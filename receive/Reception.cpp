#include "receive/Reception.h"

#include "app/Unit1.h"

void MidiInProc(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}
void EndReceptionOnExit() {}

void TForm1::Button2Click(QObject*) {}
void TForm1::BitBtn1Click(QObject*) {}
void TForm1::Timer1Timer(QObject*) {}
