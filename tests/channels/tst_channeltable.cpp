// SPDX-License-Identifier: MIT
#include "channels/ChannelTable.h"

#include <QTest>
#include <string>
#include <vector>

using namespace channels;

// Records the port writes and captions in the order they happen.
struct Recorder {
    std::int16_t outputState = 0;
    std::vector<std::string> events;
    std::vector<int> writes;

    ChannelContext context()
    {
        return ChannelContext{outputState,
                              [this](std::int16_t value) {
                                  writes.push_back(value);
                                  events.push_back("write " + std::to_string(value) + " state " +
                                                   std::to_string(outputState));
                              },
                              [this](int channel, ChannelState state) {
                                  events.push_back("caption " + std::to_string(channel) + " " +
                                                   std::string(captionOf(channel, state)));
                              }};
    }
};

enum class Op { Toggle, On, Off };
Q_DECLARE_METATYPE(Op)

class tst_ChannelTable : public QObject
{
    Q_OBJECT

  private slots:
    void table();
    void operations_data();
    void operations();
    void orderIsStoreWriteCaption();
    void refreshCaptions_data();
    void refreshCaptions();
    void outOfRangeChannelIsIgnored();
};

void tst_ChannelTable::table()
{
    for (std::size_t n = 0; n < ChannelTable.size(); ++n) {
        const Channel& row = ChannelTable[n];
        QCOMPARE(row.number, int(n));
        QCOMPARE(int(row.mask), 1 << n);
        QCOMPARE(std::string(row.button), "BIT" + std::to_string(n));
        // The on and off captions are the device name followed by 開 or 關.
        QCOMPARE(std::string(row.onCaption), std::string(row.initialCaption) + "開");
        QCOMPARE(std::string(row.offCaption), std::string(row.initialCaption) + "關");
    }
    QCOMPARE(ChannelTable[1].initialCaption, std::string_view("收音機"));
    QCOMPARE(ChannelTable[4].initialCaption, std::string_view("影印機"));
    QCOMPARE(ChannelTable[7].initialCaption, std::string_view("電視"));
}

void tst_ChannelTable::operations_data()
{
    QTest::addColumn<int>("old");
    QTest::addColumn<Op>("op");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("expected");    // OutputState afterwards
    QTest::addColumn<bool>("writes");     // whether the port is written
    QTest::addColumn<QString>("caption"); // empty: no caption change

    QTest::newRow("toggle on from 0") << 0 << Op::Toggle << 3 << 8 << true << "電扇開";
    QTest::newRow("toggle off") << 8 << Op::Toggle << 3 << 0 << true << "電扇關";
    QTest::newRow("others carried") << 0x05 << Op::Toggle << 1 << 0x07 << true << "收音機開";
    QTest::newRow("toggle high bits cleared")
        << 0x1FF << Op::Toggle << 0 << 0xFE << true << "電燈關";
    QTest::newRow("toggle high bit set, channel clear")
        << 0x100 << Op::Toggle << 0 << 0x01 << true << "電燈開";
    QTest::newRow("toggle negative") << -1 << Op::Toggle << 7 << 0x7F << true << "電視關";
    QTest::newRow("toggle most negative") << -32768 << Op::Toggle << 2 << 0x04 << true << "電鍋開";
    QTest::newRow("on when clear") << 0x01 << Op::On << 4 << 0x11 << true << "影印機開";
    QTest::newRow("on when set does nothing") << 0x10 << Op::On << 4 << 0x10 << false << "";
    QTest::newRow("on high bits cleared") << 0x300 << Op::On << 5 << 0x20 << true << "販賣機開";
    QTest::newRow("on negative, bit set, nothing") << -1 << Op::On << 5 << -1 << false << "";
    QTest::newRow("off when set") << 0x80 << Op::Off << 7 << 0 << true << "電視關";
    QTest::newRow("off when clear does nothing") << 0x00 << Op::Off << 7 << 0 << false << "";
    QTest::newRow("off high bits cleared") << 0x1C0 << Op::Off << 6 << 0x80 << true << "自動門關";
    QTest::newRow("off negative") << -2 << Op::Off << 1 << 0xFC << true << "收音機關";
}

void tst_ChannelTable::operations()
{
    QFETCH(int, old);
    QFETCH(Op, op);
    QFETCH(int, channel);
    QFETCH(int, expected);
    QFETCH(bool, writes);
    QFETCH(QString, caption);

    Recorder rec;
    rec.outputState = static_cast<std::int16_t>(old);
    auto ctx = rec.context();
    switch (op) {
    case Op::Toggle:
        ToggleChannel(ctx, channel);
        break;
    case Op::On:
        SwitchChannelOn(ctx, channel);
        break;
    case Op::Off:
        SwitchChannelOff(ctx, channel);
        break;
    }
    QCOMPARE(int(rec.outputState), expected);
    if (writes) {
        QCOMPARE(rec.writes, std::vector<int>{expected});
        QVERIFY(expected >= 0 && expected <= 255);
        QCOMPARE(rec.events.size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(rec.events[1]),
                 QStringLiteral("caption %1 %2").arg(channel).arg(caption));
    } else {
        QVERIFY(rec.events.empty());
    }
}

void tst_ChannelTable::orderIsStoreWriteCaption()
{
    Recorder rec;
    auto ctx = rec.context();
    ToggleChannel(ctx, 3);
    ToggleChannel(ctx, 3);
    // The port sees the stored value, and the caption comes after the write.
    const std::vector<std::string> expected{"write 8 state 8", "caption 3 電扇開",
                                            "write 0 state 0", "caption 3 電扇關"};
    QCOMPARE(rec.events, expected);
}

void tst_ChannelTable::refreshCaptions_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("0x40") << 0x40 << QStringList{"電燈關",   "收音機關", "電鍋關",   "電扇關",
                                                 "影印機關", "販賣機關", "自動門開", "電視關"};
    QTest::newRow("0x81") << 0x81 << QStringList{"電燈開",   "收音機關", "電鍋關",   "電扇關",
                                                 "影印機關", "販賣機關", "自動門關", "電視開"};
    QTest::newRow("0xFF") << 0xFF << QStringList{"電燈開",   "收音機開", "電鍋開",   "電扇開",
                                                 "影印機開", "販賣機開", "自動門開", "電視開"};
}

void tst_ChannelTable::refreshCaptions()
{
    QFETCH(int, state);
    QFETCH(QStringList, captions);
    Recorder rec;
    rec.outputState = static_cast<std::int16_t>(state);
    auto ctx = rec.context();
    RefreshCaptions(ctx);
    QVERIFY(rec.writes.empty());
    QCOMPARE(int(rec.outputState), state);
    QCOMPARE(rec.events.size(), std::size_t(8));
    for (int n = 0; n < 8; ++n)
        QCOMPARE(QString::fromStdString(rec.events[std::size_t(n)]),
                 QStringLiteral("caption %1 %2").arg(n).arg(captions[n]));
}

void tst_ChannelTable::outOfRangeChannelIsIgnored()
{
    for (int channel : {-1, 8, 100}) {
        Recorder rec;
        rec.outputState = 5;
        auto ctx = rec.context();
        ToggleChannel(ctx, channel);
        SwitchChannelOn(ctx, channel);
        SwitchChannelOff(ctx, channel);
        QCOMPARE(int(rec.outputState), 5);
        QVERIFY(rec.events.empty());
    }
}

QTEST_APPLESS_MAIN(tst_ChannelTable)
#include "tst_channeltable.moc"
