#include "app/Unit1.h"

void TForm1::FormCreate(QObject*) {}
void TForm1::ComboBox2Change(QObject*) {}
void TForm1::ComboBox1Change(QObject*) {}
