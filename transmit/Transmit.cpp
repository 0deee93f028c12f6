#include "app/Unit1.h"

void TForm1::Button1Click(QObject*) {}
