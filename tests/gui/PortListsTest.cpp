// The port lists: what they hold after start-up, and which button a choice enables.
#include "support/TestFiles.h"
#include "gui/FlowFixture.h"

namespace zuxtest {
namespace {

using Port = midi::SimulatedTransport::Port;

struct Entry {
    QString text;
    int id;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* os) { *os << e.text.toStdString() << " #" << e.id; }

std::vector<Entry> entries(QComboBox* list) {
    std::vector<Entry> out;
    for (int i = 0; i < list->count(); ++i)
        out.push_back({list->itemText(i), list->itemData(i).toInt()});
    return out;
}

struct Lists {
    const char* name;
    std::vector<Port> inputs, outputs;
    std::vector<Entry> in, out;
};

void PrintTo(const Lists& l, std::ostream* os) { *os << l.name; }

const char kLongName[] = "A name of exactly 31 characters";  // 31 without the NUL

std::vector<Lists> cases() {
    const MMRESULT broken = MMSYSERR_NODRIVER;
    return {
        {"NoPorts", {}, {}, {}, {{"MIDI Mapper", -1}}},
        {"FailedQueryInTheMiddle",
         {{"In 0"}, {"In 1", false, broken}, {"In 2"}},
         {{"Out 0"}, {"Out 1", false, broken}, {"Out 2"}},
         {{"In 0", 0}, {"In 2", 2}},
         {{"Out 0", 0}, {"Out 2", 2}, {"MIDI Mapper", -1}}},
        {"SameNames", {{"Port"}, {"Port"}}, {{"Port"}, {"Port"}},
         {{"Port", 0}, {"Port", 1}}, {{"Port", 0}, {"Port", 1}, {"MIDI Mapper", -1}}},
        {"LongestName", {{kLongName}}, {{kLongName}}, {{kLongName, 0}}, {{kLongName, 0}, {"MIDI Mapper", -1}}},
    };
}

class PortLists : public FlowTest, public ::testing::WithParamInterface<Lists> {};

TEST_P(PortLists, HoldEveryReadablePortAndSelectNothing) {
    const Lists& c = GetParam();
    openWithPorts(c.inputs, c.outputs);
    EXPECT_EQ(entries(form->ComboBox2), c.in);
    EXPECT_EQ(entries(form->ComboBox1), c.out);
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
    EXPECT_EQ(form->ComboBox2->currentIndex(), -1);
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->Button2->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(, PortLists, ::testing::ValuesIn(cases()), CaseName());

using PortListsTest = FlowTest;

TEST_F(PortListsTest, EachChoiceEnablesItsOwnButtonOnly) {
    openWithPorts({{"In"}}, {});
    choose(form->ComboBox2, 0);
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());

    choose(form->ComboBox1, 0);  // "MIDI Mapper" alone
    EXPECT_TRUE(form->Button1->isEnabled());
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());
}

TEST_F(PortListsTest, TheEntrysDeviceIdNamesThePortNotItsPosition) {
    openWithPorts({}, {{"Out 0"}, {"Out 1", false, MMSYSERR_NODRIVER}, {"Out 2"}});
    choose(form->ComboBox1, 1);
    scriptDialogs();
    const QString file = path("dump.ZUX");
    ASSERT_TRUE(zuxtest::writeFile(file, QByteArrayView("\xF0\x7D\x10\x7E\xF7", 5)));
    openDialog->answer = file;
    QTest::mouseClick(form->Button1, Qt::LeftButton);

    EXPECT_EQ(DevId, 2u);
    EXPECT_EQ(sim.capturedBytes(2).size(), 5u);
    EXPECT_TRUE(sim.capturedBytes(0).empty());
}

}  // namespace
}  // namespace zuxtest
