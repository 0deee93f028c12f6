// The end of a reception that was not stopped: report the count, ask for a
// name, write the dump.
#include <QApplication>
#include <QPlainTextEdit>

#include "app/TaskIcon.h"
#include "app/Unit1.h"
#include "midi/TransferState.h"
#include "receive/DumpFile.h"
#include "receive/ReceptionSteps.h"
#include "vcl/FileDialogs.h"
#include "vcl/Memo.h"

namespace {

// The block filled up while more was coming: the rest of the dump is lost.
bool DumpWasCut() {
    return DataLen.load() == DataBlockSize && (DumpCut.load() || DataBuf[DataBlockSize - 1] != 0xF7);
}

}  // namespace

void SaveReceivedDump(TForm1& form) {
    const std::uint32_t len = DataLen.load();
    if (DumpWasCut())
        vcl::MemoLinesAdd(form.Memo1, QStringLiteral("RECEIVE:overflow(cut at %1byte)").arg(DataBlockSize));
    vcl::MemoLinesAdd(form.Memo1, QStringLiteral("RECEIVE:completed(%1byte)").arg(len));

    if (LongDataCount.load() == 0) {
        EndOfReception(form);
        return;
    }
    // The user is likely at the sequencer, not at the screen: a dump that
    // waits for its name asks for attention.
    const bool away = !form.isActiveWindow();
    if (away) {
        form.taskIcon().setUrgent(true);
        QApplication::alert(&form);
    }
    const bool named = form.SaveDialog1->Execute();
    if (away) form.taskIcon().setUrgent(false);
    if (!named) {
        EndOfReception(form);
        vcl::MemoLinesAdd(form.Memo1, QStringLiteral("RECEIVE:saving was canceled"));
        return;
    }

    const QString fileName = form.SaveDialog1->FileName;
    switch (WriteDumpFile(fileName, DataBuf, len)) {
    case DumpWrite::CannotOpen:
        EndOfReception(form);
        vcl::MemoLinesAdd(form.Memo1, QStringLiteral("RECEIVE:can not open the file"));
        return;
    case DumpWrite::CannotMake:
        vcl::MemoLinesAdd(form.Memo1, QStringLiteral("RECEIVE:can not make the file"));
        break;
    case DumpWrite::Saved:
        vcl::MemoLinesAdd(form.Memo1, QStringLiteral("RECEIVE:saved(") + fileName + QStringLiteral(")"));
        break;
    }
    EndOfReception(form);
}
