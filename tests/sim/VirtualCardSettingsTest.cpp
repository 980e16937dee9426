#include "sim/VirtualCardSettings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <ostream>
#include <string>
#include <tuple>

namespace {

// A full-scale sine's RMS is 1/sqrt 2, 10 log10(2) dB below the model's 0 dB.
const double SineRmsBelowUnitDb = 10.0 * std::log10(2.0);

auto fieldsOf(const DeviceModel& m) {
    return std::tie(m.sampleRate, m.gainDb, m.latencyFrames, m.highPass.frequencyHz,
                    m.highPass.order, m.lowPass.frequencyHz, m.lowPass.order, m.noiseDb, m.humHz,
                    m.humDb, m.secondHarmonicDb, m.thirdHarmonicDb, m.noiseSeed);
}

DeviceModel applied(const std::string& settings) {
    DeviceModel model = DeviceModel::ConsumerCard();
    std::string error;
    EXPECT_TRUE(ApplyVirtualCardSettings(settings, model, error)) << settings << ": " << error;
    return model;
}

TEST(VirtualCardSettings, GivenKeysChangeTheirFieldsAndTheRestKeepTheDefault) {
    const DeviceModel card = DeviceModel::ConsumerCard();
    const DeviceModel model = applied("gain=-6,highpass=100/2,lowpass=off,noise=-90");
    EXPECT_EQ(model.gainDb, -6.0);
    EXPECT_EQ(model.highPass.frequencyHz, 100.0);
    EXPECT_EQ(model.highPass.order, 2);
    EXPECT_EQ(model.lowPass.order, 0);
    EXPECT_NEAR(model.noiseDb, -90.0 - SineRmsBelowUnitDb, 1e-12);
    EXPECT_EQ(model.humHz, card.humHz);
    EXPECT_EQ(model.humDb, card.humDb);
    EXPECT_EQ(model.secondHarmonicDb, card.secondHarmonicDb);
    EXPECT_EQ(model.latencyFrames, card.latencyFrames);

    DeviceModel unchanged = card;
    std::string error;
    EXPECT_TRUE(ApplyVirtualCardSettings("", unchanged, error));
    EXPECT_EQ(fieldsOf(unchanged), fieldsOf(card));
}

TEST(VirtualCardSettings, EveryKeyAndOffReachTheModel) {
    const DeviceModel model =
        applied("latency=0,h3=-75.5,h2=-60,hum=60/-70,lowpass=1e3/1,gain=+6,highpass=22049.5/8");
    EXPECT_EQ(model.gainDb, 6.0);
    EXPECT_EQ(model.highPass.frequencyHz, 22049.5);
    EXPECT_EQ(model.highPass.order, 8);
    EXPECT_EQ(model.lowPass.frequencyHz, 1000.0);
    EXPECT_EQ(model.lowPass.order, 1);
    EXPECT_EQ(model.humHz, 60.0);
    EXPECT_EQ(model.humDb, -70.0);
    EXPECT_EQ(model.secondHarmonicDb, -60.0);
    EXPECT_EQ(model.thirdHarmonicDb, -75.5);
    EXPECT_EQ(model.latencyFrames, 0u);
    EXPECT_EQ(applied("latency=8192").latencyFrames, 8192u);

    const DeviceModel silent = applied("noise=off,hum=off,h2=off,h3=off,highpass=off");
    EXPECT_EQ(silent.noiseDb, Off);
    EXPECT_EQ(silent.humDb, Off);
    EXPECT_EQ(silent.secondHarmonicDb, Off);
    EXPECT_EQ(silent.thirdHarmonicDb, Off);
    EXPECT_EQ(silent.highPass.order, 0);
}

struct Refused {
    const char* settings;
    const char* named; // what the reason must mention
};

// Names each case by its settings, the same in every run.
void PrintTo(const Refused& refused, std::ostream* out) {
    *out << '"' << refused.settings << '"';
}

class VirtualCardSettingsRefused : public testing::TestWithParam<Refused> {};

TEST_P(VirtualCardSettingsRefused, LeavesTheModelAsItWasAndNamesThePair) {
    const DeviceModel card = DeviceModel::ConsumerCard();
    DeviceModel model = card;
    std::string error;
    EXPECT_FALSE(ApplyVirtualCardSettings(GetParam().settings, model, error));
    EXPECT_NE(error.find(GetParam().named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(fieldsOf(model), fieldsOf(card));
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, VirtualCardSettingsRefused,
    testing::Values(
        Refused{"volume=3", "'volume=3'"}, Refused{"gain=1,gain=2", "'gain=2'"},
        Refused{"gain", "'gain'"}, Refused{"gain=-6,,noise=off", "empty"},
        Refused{"gain=-6,", "empty"}, Refused{"gain=nan", "'gain=nan'"},
        Refused{"gain=inf", "'gain=inf'"}, Refused{"gain=1e999", "'gain=1e999'"},
        Refused{"gain=12abc", "'gain=12abc'"}, Refused{"gain=", "'gain='"},
        Refused{"gain=+-6", "'gain=+-6'"}, Refused{"gain=off", "'gain=off'"},
        Refused{"gain=1e300", "'gain=1e300'"}, Refused{"noise=loud", "'noise=loud'"},
        Refused{"highpass=100", "'highpass=100'"},
        Refused{"highpass=100/2.5", "'highpass=100/2.5'"},
        Refused{"highpass=100/0", "'highpass=100/0'"}, Refused{"lowpass=100/9", "'lowpass=100/9'"},
        Refused{"highpass=0/2", "'highpass=0/2'"}, Refused{"lowpass=22050/4", "'lowpass=22050/4'"},
        Refused{"hum=22050/-90", "'hum=22050/-90'"}, Refused{"hum=50", "'hum=50'"},
        Refused{"latency=-1", "'latency=-1'"}, Refused{"latency=8193", "'latency=8193'"},
        Refused{"latency=64.0", "'latency=64.0'"},
        Refused{"latency=99999999999999999999", "'latency=99999999999999999999'"},
        Refused{"gain=-6,hum=60/-70,latency=9000", "'latency=9000'"},
        Refused{"die-after=-1", "'die-after=-1'"},
        Refused{"overflow-after=soon", "'overflow-after=soon'"}));

TEST(VirtualCardSettings, DescriptionIsTakenBackAsTheSameModel) {
    EXPECT_EQ(DescribeVirtualCard(DeviceModel::IdealWire()),
              "gain=0,highpass=off,lowpass=off,noise=off,hum=off,h2=off,h3=off,latency=0");

    DeviceModel odd = DeviceModel::ConsumerCard();
    odd.gainDb = -1.0 / 3.0;
    odd.highPass = {0.1, 7};
    odd.lowPass = {22049.999999, 3};
    odd.noiseDb = -123.456789;
    odd.humHz = 60.0 / 7.0;
    odd.humDb = -88.8;
    odd.secondHarmonicDb = -61.2;
    odd.thirdHarmonicDb = 1e-300;
    odd.latencyFrames = 4097;
    for (const DeviceModel& model : {DeviceModel::ConsumerCard(), DeviceModel::IdealWire(), odd}) {
        const std::string description = DescribeVirtualCard(model);
        DeviceModel back = applied(description);
        if (model.noiseDb == Off)
            EXPECT_EQ(back.noiseDb, Off);
        else
            EXPECT_NEAR(back.noiseDb, model.noiseDb, 1e-12) << description;
        back.noiseDb = model.noiseDb;
        // An unused corner or hum frequency is not described.
        if (model.highPass.order == 0)
            back.highPass.frequencyHz = model.highPass.frequencyHz;
        if (model.lowPass.order == 0)
            back.lowPass.frequencyHz = model.lowPass.frequencyHz;
        if (model.humDb == Off)
            back.humHz = model.humHz;
        EXPECT_EQ(fieldsOf(back), fieldsOf(model)) << description;
    }
}

TEST(VirtualCardSettings, FaultsAreDescribedOnlyWhenGiven) {
    const DeviceModel model = applied("die-after=2.5,overflow-after=0");
    EXPECT_EQ(model.streamsDieAfterSeconds, 2.5);
    EXPECT_EQ(model.inputOverflowsAfterSeconds, 0.0);
    const DeviceModel back = applied(DescribeVirtualCard(model));
    EXPECT_EQ(back.streamsDieAfterSeconds, 2.5);
    EXPECT_EQ(back.inputOverflowsAfterSeconds, 0.0);
    EXPECT_EQ(DescribeVirtualCard(DeviceModel::ConsumerCard()).find("after"), std::string::npos);
}

TEST(VirtualCardSettings, TheInputsStartDelayIsASettingForTests) {
    const DeviceModel model = applied("start-delay=1.5");
    EXPECT_EQ(model.inputStartDelaySeconds, 1.5);
    EXPECT_EQ(applied(DescribeVirtualCard(model)).inputStartDelaySeconds, 1.5);
    EXPECT_EQ(DescribeVirtualCard(DeviceModel::ConsumerCard()).find("start-delay"),
              std::string::npos);
    for (const char* refused : {"start-delay=-1", "start-delay=61", "start-delay=soon"}) {
        DeviceModel unchanged = DeviceModel::ConsumerCard();
        std::string error;
        EXPECT_FALSE(ApplyVirtualCardSettings(refused, unchanged, error)) << refused;
        EXPECT_NE(error.find("from 0 to 60"), std::string::npos) << error;
    }
}

TEST(VirtualCardSettings, NumbersDoNotFollowTheLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "no de_DE.UTF-8 locale here";
    const DeviceModel model = applied("gain=-6.5");
    const std::string description = DescribeVirtualCard(model);
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(model.gainDb, -6.5);
    EXPECT_EQ(description.rfind("gain=-6.5,", 0), 0u) << description;
}

} // namespace

namespace {

CardModel appliedToCard(const std::string& settings) {
    CardModel card;
    std::string error;
    EXPECT_TRUE(ApplyVirtualCardSettings(settings, card, error)) << settings << ": " << error;
    return card;
}

auto cardFieldsOf(const CardModel& card) {
    return std::tuple_cat(fieldsOf(card.left), fieldsOf(card.right),
                          std::tie(card.crosstalkDb, card.driftPpm,
                                   card.left.streamsDieAfterSeconds,
                                   card.right.streamsDieAfterSeconds));
}

TEST(TwoChannelSettings, APrefixSetsOneChannelAndNoPrefixBoth) {
    const CardModel card = appliedToCard("gain=-6,right.gain=0,left.latency=10,lowpass=off");
    EXPECT_EQ(card.left.gainDb, -6.0);
    EXPECT_EQ(card.right.gainDb, 0.0);
    EXPECT_EQ(card.left.latencyFrames, 10u);
    EXPECT_EQ(card.right.latencyFrames, DeviceModel::ConsumerCard().latencyFrames);
    EXPECT_EQ(card.left.lowPass.order, 0);
    EXPECT_EQ(card.right.lowPass.order, 0);
    EXPECT_EQ(card.crosstalkDb, Off);
    EXPECT_NE(card.left.noiseSeed, card.right.noiseSeed);

    EXPECT_EQ(appliedToCard("crosstalk=-70").crosstalkDb, -70.0);
    EXPECT_EQ(appliedToCard("crosstalk=off").crosstalkDb, Off);
    EXPECT_EQ(card.driftPpm, 0.0);
    EXPECT_EQ(appliedToCard("drift=-12.5").driftPpm, -12.5);
    EXPECT_EQ(appliedToCard("drift=+1000").driftPpm, 1000.0);
    EXPECT_EQ(appliedToCard("drift=-1000").driftPpm, -1000.0);
}

TEST(TwoChannelSettings, AWireKeepsTheCardsSettingsAndLaterKeysChangeIt) {
    const CardModel card = appliedToCard("die-after=2,gain=-6,right.wire=on,right.latency=10");
    const DeviceModel wire = DeviceModel::IdealWire();
    EXPECT_EQ(card.right.gainDb, 0.0);
    EXPECT_EQ(card.right.highPass.order, 0);
    EXPECT_EQ(card.right.lowPass.order, 0);
    EXPECT_EQ(card.right.noiseDb, wire.noiseDb);
    EXPECT_EQ(card.right.humDb, wire.humDb);
    EXPECT_EQ(card.right.latencyFrames, 10u);
    EXPECT_EQ(card.right.streamsDieAfterSeconds, 2.0);
    EXPECT_NE(card.right.noiseSeed, card.left.noiseSeed);
    EXPECT_EQ(card.left.gainDb, -6.0);
    EXPECT_EQ(card.left.lowPass.order, DeviceModel::ConsumerCard().lowPass.order);
    EXPECT_TRUE(card.valid());
}

class TwoChannelSettingsRefused : public testing::TestWithParam<Refused> {};

TEST_P(TwoChannelSettingsRefused, LeaveTheCardAsItWasAndNameThePair) {
    const CardModel before;
    CardModel card = before;
    std::string error;
    EXPECT_FALSE(ApplyVirtualCardSettings(GetParam().settings, card, error));
    EXPECT_NE(error.find(GetParam().named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(cardFieldsOf(card), cardFieldsOf(before));
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, TwoChannelSettingsRefused,
    testing::Values(
        Refused{"left.die-after=1", "'left.die-after=1': die-after is the whole card"},
        Refused{"right.crosstalk=-70", "'right.crosstalk=-70'"},
        Refused{"left.start-delay=1", "'left.start-delay=1'"},
        Refused{"crosstalk=3", "at most 0 dB"}, Refused{"crosstalk=nan", "'crosstalk=nan'"},
        Refused{"crosstalk=-70,crosstalk=-60", "crosstalk is given twice"},
        Refused{"right.drift=10", "'right.drift=10': drift is the whole card"},
        Refused{"drift=1000.5", "from -1000 to 1000"}, Refused{"drift=-2000", "'drift=-2000'"},
        Refused{"drift=inf", "from -1000 to 1000"}, Refused{"drift=10ppm", "'drift=10ppm'"},
        Refused{"drift=off", "'drift=off'"}, Refused{"drift=1,drift=2", "drift is given twice"},
        Refused{"left.gain=1,left.gain=2", "left.gain is given twice"},
        Refused{"left.gain=1,gain=2", "'gain=2': it would undo left.gain"},
        Refused{"right.gain=3,right.wire=on", "it would undo right.gain"},
        Refused{"gain=3,wire=on", "it would undo gain"},
        Refused{"right.wire=off", "expected wire=on"},
        Refused{"centre.gain=1", "'centre.gain=1': unknown key"},
        Refused{"left.right.gain=1", "'left.right.gain=1': unknown key"},
        Refused{"left.gain=1,right.highpass=0/2", "'right.highpass=0/2'"}));

TEST(TwoChannelSettings, OneChannelsSettingsRefuseWhatOnlyACardHas) {
    for (const char* settings : {"left.gain=1", "crosstalk=-70", "drift=100"}) {
        DeviceModel model = DeviceModel::ConsumerCard();
        std::string error;
        EXPECT_FALSE(ApplyVirtualCardSettings(settings, model, error)) << settings;
        EXPECT_NE(error.find(std::string("'") + settings + "'"), std::string::npos) << error;
    }
    EXPECT_EQ(applied("wire=on,gain=-3").gainDb, -3.0);
}

TEST(TwoChannelSettings, DescriptionIsTakenBackAsTheSameCard) {
    EXPECT_EQ(DescribeVirtualCard(appliedToCard("right.wire=on,crosstalk=-70")),
              "gain=0,highpass=20/2,lowpass=20000/4,noise=-96.98970004336019,hum=50/-90,h2=off,"
              "h3=off,latency=64,right.wire=on,crosstalk=-70");
    EXPECT_EQ(DescribeVirtualCard(appliedToCard("left.wire=on,left.gain=-6,right.gain=-3")),
              "gain=-3,highpass=20/2,lowpass=20000/4,noise=-96.98970004336019,hum=50/-90,h2=off,"
              "h3=off,latency=64,left.wire=on,left.gain=-6");

    CardModel odd;
    odd.left.gainDb = -1.0 / 3.0;
    odd.right.highPass = {0.1, 7};
    odd.right.latencyFrames = 4097;
    odd.left.secondHarmonicDb = -61.2;
    odd.crosstalkDb = -123.456;
    odd.driftPpm = -0.1;
    odd.left.inputOverflowsAfterSeconds = odd.right.inputOverflowsAfterSeconds = 1.5;
    CardModel wired = appliedToCard("right.wire=on,right.latency=10,right.h3=-80");
    for (const CardModel& card : {CardModel(), odd, wired}) {
        const std::string description = DescribeVirtualCard(card);
        const CardModel back = appliedToCard(description);
        EXPECT_EQ(DescribeVirtualCard(back), description);
        EXPECT_EQ(cardFieldsOf(back), cardFieldsOf(card)) << description;
        EXPECT_EQ(back.left.inputOverflowsAfterSeconds, card.left.inputOverflowsAfterSeconds);
    }
    EXPECT_EQ(DescribeVirtualCard(CardModel()), DescribeVirtualCard(DeviceModel::ConsumerCard()));
    EXPECT_EQ(DescribeVirtualCard(CardModel()).find("drift"), std::string::npos);
    EXPECT_NE(DescribeVirtualCard(odd).find(",crosstalk=-123.456,drift=-0.1,"), std::string::npos)
        << DescribeVirtualCard(odd);
}

} // namespace
